#include "engine/AacFrameHeader.h"

namespace melvora {
namespace {

// Syntax element ids of a raw_data_block.
constexpr unsigned kSingleChannel = 0;
constexpr unsigned kChannelPair = 1;
constexpr unsigned kFill = 6;

class BitReader {
public:
    BitReader(const std::uint8_t *data, int size) : m_data(data), m_bits(size > 0 ? std::int64_t(size) * 8 : 0) {}
    bool has(std::int64_t count) const { return m_position + count <= m_bits; }
    unsigned read(int count) { // callers check has() first
        unsigned value = 0;
        for (int i = 0; i < count; ++i, ++m_position)
            value = (value << 1) | ((m_data[m_position >> 3] >> (7 - (m_position & 7))) & 1u);
        return value;
    }
    void skip(std::int64_t count) { m_position += count; }

private:
    const std::uint8_t *m_data;
    std::int64_t m_bits;
    std::int64_t m_position = 0;
};

bool readIcsInfo(BitReader &bits, AacFrameWindow &window) {
    if (!bits.has(4))
        return false;
    bits.skip(1); // ics_reserved_bit
    window.windowSequence = int(bits.read(2));
    window.windowShape = int(bits.read(1));
    window.known = true;
    return true;
}

} // namespace

AacFrameWindow readAacFrameWindow(const std::uint8_t *data, int size) {
    AacFrameWindow window;
    if (!data)
        return window;
    BitReader bits(data, size);
    while (bits.has(3)) {
        const unsigned element = bits.read(3);
        if (element == kFill) {
            if (!bits.has(4))
                return window;
            std::int64_t count = bits.read(4);
            if (count == 15) {
                if (!bits.has(8))
                    return window;
                count += std::int64_t(bits.read(8)) - 1;
            }
            if (!bits.has(count * 8))
                return window;
            bits.skip(count * 8);
            continue;
        }
        if (element == kSingleChannel) {
            if (!bits.has(4 + 8))
                return window;
            bits.skip(4 + 8); // element_instance_tag, global_gain
            if (readIcsInfo(bits, window))
                window.sharedByPair = true;
            return window;
        }
        if (element == kChannelPair) {
            if (!bits.has(5))
                return window;
            bits.skip(4); // element_instance_tag
            const bool commonWindow = bits.read(1) != 0;
            if (!commonWindow) {
                // Only the first channel's window lies at a fixed place; the
                // second one's follows its whole spectrum.
                if (!bits.has(8))
                    return window;
                bits.skip(8); // global_gain
                readIcsInfo(bits, window);
                return window;
            }
            if (readIcsInfo(bits, window))
                window.sharedByPair = true;
            return window;
        }
        return window; // an element this reader does not look into
    }
    return window;
}

bool windowsJoin(const AacFrameWindow &left, const AacFrameWindow &right) {
    return left.known && right.known && left.sharedByPair && right.sharedByPair &&
           left.windowSequence == right.windowSequence && left.windowShape == right.windowShape;
}

} // namespace melvora
