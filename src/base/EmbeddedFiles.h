// Files built into the program (kestrix_embed_files in cmake/Kestrix.cmake generates the
// definition from the files at build time): the page's HTML, CSS and JavaScript, and
// Leaflet from Debian's libjs-leaflet. Read-only data; any thread.
#pragma once
#include <string_view>

namespace kestrix {

struct EmbeddedFile {
    std::string_view name;  // as the build named it: "app.js", "leaflet.css"
    std::string_view data;
};

// nullptr for a name the build did not embed.
const EmbeddedFile* FindEmbeddedFile(std::string_view name);

}  // namespace kestrix
