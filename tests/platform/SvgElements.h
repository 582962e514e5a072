// Reads a painting's SVG back: the elements of one tag in document order, each as its
// attributes and its text ("#text").
#pragma once
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace kestrix::test {

using SvgElement = std::map<std::string, std::string>;

inline std::vector<SvgElement> SvgElements(const std::string& svg, const std::string& tag) {
    std::vector<SvgElement> out;
    const std::regex element("<" + tag + R"re(\b([^>]*?)/?>([^<]*))re"), attribute(R"re(([\w:-]+)="([^"]*)")re");
    for (std::sregex_iterator it(svg.begin(), svg.end(), element), end; it != end; ++it) {
        SvgElement e{{"#text", (*it)[2]}};
        const std::string body = (*it)[1];
        for (std::sregex_iterator a(body.begin(), body.end(), attribute); a != end; ++a) e[(*a)[1]] = (*a)[2];
        out.push_back(std::move(e));
    }
    return out;
}

// Each element of the tag as the values of the named attributes, "-" for one it lacks,
// joined by blanks: {"x", "y"} gives "4 20".
inline std::vector<std::string> SvgShapes(const std::string& svg, const std::string& tag,
                                          const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const SvgElement& e : SvgElements(svg, tag)) {
        std::string shape;
        for (const auto& n : names) shape += (shape.empty() ? "" : " ") + (e.count(n) ? e.at(n) : "-");
        out.push_back(shape);
    }
    return out;
}

}  // namespace kestrix::test
