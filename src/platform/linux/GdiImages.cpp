// Icons and bitmaps from the resource images, and drawing icons.
#include <atomic>

#include "platform/Gdi.h"
#include "platform/LastError.h"
#include "platform/linux/GdiTable.h"

namespace kestrix::platform {

using internal::DeviceContext;
using internal::GdiObject;
using internal::GdiTable;
using internal::ImageData;
using internal::Shape;

namespace {

std::atomic<ImageProvider> gProvider{nullptr};

std::string Base64(std::string_view data) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16;
        if (i + 1 < data.size()) n |= static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
        if (i + 2 < data.size()) n |= static_cast<unsigned char>(data[i + 2]);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < data.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < data.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

// An image as an <image> shows it: a data: URI works the same in an SVG shown by <img>
// (which loads nothing from outside) and in one put inline into a page, and keeps the
// image's own ids and styles out of the drawing around it.
std::shared_ptr<const std::string> Href(GdiTable& t, int resource, std::string_view svg) {
    auto& href = t.hrefs[resource];
    if (!href) href = std::make_shared<const std::string>("data:image/svg+xml;base64," + Base64(svg));
    return href;
}

}  // namespace

void SetImageProvider(ImageProvider provider) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    gProvider = provider;
    t.hrefs.clear();
}

GdiHandle LoadImage(uintptr_t instance, int resourceId, int type, int32_t cx, int32_t cy) {
    const ImageProvider provider = gProvider;
    if (instance == 0 || (type != IMAGE_BITMAP && type != IMAGE_ICON) || cx < 0 || cy < 0) {
        SetLastError(internal::kErrorInvalidParameter);
        return 0;
    }
    const ImageResource* res = provider ? provider(resourceId) : nullptr;
    if (!res || res->width <= 0 || res->height <= 0) {
        SetLastError(internal::kErrorResourceNotFound);
        return 0;
    }
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    ImageData image{resourceId, cx ? cx : res->width, cy ? cy : res->height, res->topLeft & 0xFFFFFF,
                    Href(t, resourceId, res->svg)};
    GdiObject o;
    o.image = image;
    if (type == IMAGE_ICON) {
        o.kind = GdiObject::Kind::Icon;
        return t.AddObject(std::move(o));
    }
    // A bitmap is opaque: its background has the colour of its top-left pixel, so a copy
    // keyed on that colour shows the image's own transparent background.
    o.kind = GdiObject::Kind::Bitmap;
    o.surface = std::make_shared<internal::SvgSurface>(image.width, image.height);
    const internal::Box whole{0, 0, static_cast<double>(image.width), static_cast<double>(image.height)};
    Shape background;
    background.box = whole;
    background.fill = true;
    background.fillColor = image.topLeft;
    o.surface->Add(std::move(background));
    Shape picture;
    picture.kind = Shape::Kind::Image;
    picture.box = whole;
    picture.resource = resourceId;
    picture.naturalWidth = res->width;
    picture.naturalHeight = res->height;
    picture.knownTopLeft = true;
    picture.topLeft = image.topLeft;
    picture.href = image.href;
    o.surface->Add(std::move(picture));
    return t.AddObject(std::move(o));
}

bool DrawIconEx(DcHandle dc, int32_t x, int32_t y, GdiHandle icon, int32_t cx, int32_t cy, uint32_t flags) {
    if ((flags & DI_NORMAL) == 0 || cx < 0 || cy < 0) {
        SetLastError(internal::kErrorInvalidParameter);
        return false;
    }
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    DeviceContext* d = t.FindDc(dc);
    const GdiObject* o = d ? t.Find(icon, GdiObject::Kind::Icon) : nullptr;
    if (!o) return false;
    const ImageData& image = o->image;
    Shape s;
    s.kind = Shape::Kind::Image;
    s.box = {static_cast<double>(x), static_cast<double>(y), static_cast<double>(x + (cx ? cx : image.width)),
             static_cast<double>(y + (cy ? cy : image.height))};
    s.resource = image.resource;
    s.naturalWidth = image.width;
    s.naturalHeight = image.height;
    s.href = image.href;
    d->surface->Add(std::move(s));
    return true;
}

bool DestroyIcon(GdiHandle icon) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    if (!t.Find(icon, GdiObject::Kind::Icon)) return false;
    t.RemoveObject(icon);
    return true;
}

int ImageResourceId(GdiHandle image) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    const GdiObject* o = t.Peek(image);
    return o && (o->kind == GdiObject::Kind::Icon || o->kind == GdiObject::Kind::Bitmap) ? o->image.resource : 0;
}

}  // namespace kestrix::platform
