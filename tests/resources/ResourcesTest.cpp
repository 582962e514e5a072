#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace kestrix {
namespace {

// A small XML reader for the images: elements, quoted attributes, text, comments. Fills
// error with the first fault (unbalanced or mismatched tags, a bad attribute, text after
// the root) and the root's name and attributes when well formed.
struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string Attribute(const std::string& key) const {
        for (const auto& [k, v] : attributes)
            if (k == key) return v;
        return {};
    }
};

class XmlCheck {
public:
    explicit XmlCheck(const std::string& text) : s_(text) { Parse(); }
    const std::string& Error() const { return error_; }
    const Element& Root() const { return root_; }
    const std::vector<Element>& Elements() const { return all_; }

private:
    bool IsNameChar(char c) const {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' || c == '.';
    }
    std::string Name() {
        const size_t start = i_;
        while (i_ < s_.size() && IsNameChar(s_[i_])) ++i_;
        return s_.substr(start, i_ - start);
    }
    void Spaces() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    bool Fail(const std::string& why) {
        if (error_.empty()) error_ = why + " at " + std::to_string(i_);
        return false;
    }
    bool Text() {
        for (; i_ < s_.size() && s_[i_] != '<'; ++i_) {
            if (s_[i_] == '&') {
                const size_t end = s_.find(';', i_);
                if (end == std::string::npos) return Fail("unterminated entity");
                static const std::set<std::string> known{"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
                if (!known.count(s_.substr(i_, end - i_ + 1))) return Fail("unknown entity");
                i_ = end;
            }
        }
        return true;
    }
    bool Tag(std::vector<std::string>& open) {
        ++i_;  // '<'
        if (s_.compare(i_, 3, "!--") == 0) {
            const size_t end = s_.find("-->", i_);
            if (end == std::string::npos) return Fail("unterminated comment");
            i_ = end + 3;
            return true;
        }
        if (i_ < s_.size() && s_[i_] == '/') {
            ++i_;
            const std::string name = Name();
            Spaces();
            if (i_ >= s_.size() || s_[i_] != '>') return Fail("bad end tag");
            ++i_;
            if (open.empty() || open.back() != name) return Fail("end tag </" + name + "> does not match");
            open.pop_back();
            return true;
        }
        Element e;
        e.name = Name();
        if (e.name.empty()) return Fail("empty tag name");
        std::set<std::string> seen;
        for (;;) {
            const size_t before = i_;
            Spaces();
            if (i_ >= s_.size()) return Fail("unterminated tag");
            if (s_[i_] == '>' || s_.compare(i_, 2, "/>") == 0) break;
            if (i_ == before) return Fail("attributes need a space between them");
            const std::string key = Name();
            if (key.empty() || i_ >= s_.size() || s_[i_] != '=') return Fail("bad attribute");
            ++i_;
            if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\'')) return Fail("unquoted attribute");
            const char quote = s_[i_++];
            const size_t end = s_.find(quote, i_);
            if (end == std::string::npos) return Fail("unterminated attribute");
            const std::string value = s_.substr(i_, end - i_);
            if (value.find('<') != std::string::npos) return Fail("'<' in an attribute");
            if (!seen.insert(key).second) return Fail("attribute " + key + " twice");
            e.attributes.emplace_back(key, value);
            i_ = end + 1;
        }
        const bool empty = s_[i_] == '/';
        i_ += empty ? 2 : 1;
        if (open.empty() && !all_.empty()) return Fail("a second root element");
        if (all_.empty()) root_ = e;
        all_.push_back(e);
        if (!empty) open.push_back(e.name);
        return true;
    }
    void Parse() {
        std::vector<std::string> open;
        Spaces();
        if (s_.compare(0, 5, "<?xml") == 0) i_ = s_.find("?>") == std::string::npos ? s_.size() : s_.find("?>") + 2;
        while (i_ < s_.size() && error_.empty()) {
            if (s_[i_] == '<') {
                Tag(open);
            } else {
                const size_t start = i_;
                if (!Text()) return;
                if (open.empty() && s_.find_first_not_of(" \t\r\n", start) < i_) {
                    Fail("text outside the root");
                    return;
                }
            }
        }
        if (error_.empty() && all_.empty()) Fail("no element");
        if (error_.empty() && !open.empty()) Fail("<" + open.back() + "> is never closed");
    }

    std::string s_;
    size_t i_ = 0;
    std::string error_;
    Element root_;
    std::vector<Element> all_;
};

TEST(XmlCheck, FindsTheFaultsItIsThereFor) {
    EXPECT_EQ(XmlCheck("<svg a=\"1\"><rect/><g></g></svg>").Error(), "");
    for (const char* bad : {"<svg>", "<svg></g>", "<svg a=1/>", "<svg a=\"1\"b=\"2\"/>", "<svg/><svg/>",
                            "<svg a=\"1\" a=\"2\"/>", "<svg>&nbsp;</svg>", "x<svg/>", "<svg><rect></svg>",
                            "<svg a=\"1/>", ""}) {
        EXPECT_NE(XmlCheck(bad).Error(), "") << bad;
    }
}

std::vector<int> AllImageIds() {
    std::vector<int> ids(kStateIconIds.begin(), kStateIconIds.end());
    ids.insert(ids.end(), kSignalBitmapsFix.begin(), kSignalBitmapsFix.end());
    ids.insert(ids.end(), kSignalBitmapsNoFix.begin(), kSignalBitmapsNoFix.end());
    return ids;
}

TEST(Resources, EveryIconAndBitmapIsAWellFormedSvgOfItsSize) {
    for (int id : AllImageIds()) {
        SCOPED_TRACE("id " + std::to_string(id));
        const char* svg = ResourceSvg(id);
        ASSERT_NE(svg, nullptr);
        XmlCheck xml(svg);
        ASSERT_EQ(xml.Error(), "") << svg;
        EXPECT_EQ(xml.Root().name, "svg");
        EXPECT_EQ(xml.Root().Attribute("xmlns"), "http://www.w3.org/2000/svg");
        const bool icon = std::find(kStateIconIds.begin(), kStateIconIds.end(), id) != kStateIconIds.end();
        EXPECT_EQ(xml.Root().Attribute("width"), icon ? "16" : "29");
        EXPECT_EQ(xml.Root().Attribute("height"), icon ? "16" : "19");
    }
}

// Each state and each signal level must be told apart at a glance: no two ids share an image.
TEST(Resources, NoTwoStatesShareAnImage) {
    std::set<std::string> seen;
    for (int id : AllImageIds()) {
        const char* svg = ResourceSvg(id);
        ASSERT_NE(svg, nullptr) << id;
        EXPECT_TRUE(seen.insert(svg).second) << "id " << id << " repeats another image";
    }
}

// A gauge lights as many of its five bars as its level, in one colour with a fix and in
// another without.
TEST(Resources, SignalGaugesLightOneBarALevel) {
    std::string fixColour, noFixColour;
    for (size_t level = 0; level < kSignalBitmapsFix.size(); ++level) {
        for (bool fix : {true, false}) {
            const int id = fix ? kSignalBitmapsFix[level] : kSignalBitmapsNoFix[level];
            SCOPED_TRACE("id " + std::to_string(id));
            XmlCheck xml(ResourceSvg(id));
            ASSERT_EQ(xml.Error(), "");
            std::vector<std::string> fills;
            for (const Element& e : xml.Elements())
                if (e.name == "rect") fills.push_back(e.Attribute("fill"));
            ASSERT_EQ(fills.size(), 5u);
            // Bars light from the shortest (first) up; unlit ones stay grey.
            const std::string off = "#d0d0d0";
            for (size_t bar = 0; bar < fills.size(); ++bar) {
                if (bar < level) {
                    EXPECT_NE(fills[bar], off) << "bar " << bar;
                    std::string& colour = fix ? fixColour : noFixColour;
                    if (colour.empty()) colour = fills[bar];
                    EXPECT_EQ(fills[bar], colour) << "bar " << bar;
                } else {
                    EXPECT_EQ(fills[bar], off) << "bar " << bar;
                }
            }
        }
    }
    EXPECT_NE(fixColour, noFixColour);
}

TEST(Resources, UnknownIdsHaveNoImageAndTheTitleStringIsKestrix) {
    for (int id : {0, -1, 1, 100, 102, 105, 116, 118, 131, 40001}) EXPECT_EQ(ResourceSvg(id), nullptr) << id;
    EXPECT_EQ(LoadResourceString(kStringTitle), "Kestrix");
    EXPECT_EQ(LoadResourceString(999), "");
}

}  // namespace
}  // namespace kestrix
