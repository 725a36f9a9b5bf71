#include "kernel/core/text_repair.hpp"

namespace zm::kernel::core {

std::size_t repair_surrogates(std::vector<char32_t> &points) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const char32_t point = points[i];
        if (!is_surrogate(point)) {
            points[out++] = point;
            continue;
        }
        const bool high = point <= 0xDBFF;
        if (high && i + 1 < points.size() && points[i + 1] >= 0xDC00 && points[i + 1] <= 0xDFFF) {
            points[out++] = 0x10000 + ((point - 0xD800) << 10) + (points[i + 1] - 0xDC00);
            ++i;
            continue;
        }
        points[out++] = REPLACEMENT_CHARACTER;
    }
    return out;
}

} // namespace zm::kernel::core
