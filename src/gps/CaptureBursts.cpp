#include "gps/CaptureBursts.h"

namespace kestrix {

namespace {

// Field number (1 = first after the address) holding the time, or 0.
int TimeField(std::string_view address) {
    if (address.size() != 5) return 0;
    const std::string_view type = address.substr(2);
    if (type == "GGA" || type == "RMC") return 1;
    if (type == "GLL") return 5;
    return 0;
}

std::string_view Field(std::string_view sentence, int index) {
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        const size_t comma = sentence.find(',', start);
        if (comma == std::string_view::npos) return {};
        start = comma + 1;
    }
    const size_t end = sentence.find_first_of(",*\r\n", start);
    return sentence.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

}  // namespace

std::string_view SentenceSecond(std::string_view line) {
    const size_t dollar = line.find('$');
    if (dollar == std::string_view::npos) return {};
    const std::string_view sentence = line.substr(dollar + 1);
    const size_t comma = sentence.find(',');
    if (comma == std::string_view::npos) return {};
    const int field = TimeField(sentence.substr(0, comma));
    if (field == 0) return {};
    const std::string_view time = Field(sentence, field);
    if (time.size() < 6) return {};
    for (size_t i = 0; i < 6; ++i) {
        if (time[i] < '0' || time[i] > '9') return {};
    }
    return time.substr(0, 6);
}

std::vector<std::string> SplitCaptureIntoBursts(std::string_view capture) {
    std::vector<std::string> bursts;
    std::string current;
    std::string currentSecond;
    size_t pos = 0;
    while (pos < capture.size()) {
        size_t end = capture.find('\n', pos);
        end = end == std::string_view::npos ? capture.size() : end + 1;
        const std::string_view line = capture.substr(pos, end - pos);
        pos = end;
        const std::string_view second = SentenceSecond(line);
        if (!second.empty()) {
            if (!currentSecond.empty() && second != currentSecond) {
                bursts.push_back(std::move(current));
                current.clear();
            }
            currentSecond = second;
        }
        current.append(line);
    }
    if (!current.empty()) bursts.push_back(std::move(current));
    return bursts;
}

}  // namespace kestrix
