#pragma once
// How a fuzz input is read: one byte choosing the bound of what may be held,
// one byte giving the number of cuts, two bytes per cut (where a read ends),
// then the bytes the server sends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quvo::fuzz {

struct Input {
    std::size_t limit = 0;
    std::vector<std::size_t> cuts; // ascending, inside the stream
    std::string_view stream;
};

inline Input readInput(const std::uint8_t* data, std::size_t size)
{
    Input in;
    if (size < 2)
        return in;
    in.limit = std::size_t(16) << (data[0] % 16); // 16 bytes to 512 KiB
    std::size_t n = data[1] % 16;
    std::size_t pos = 2;
    std::vector<std::uint16_t> raw;
    for (; n > 0 && pos + 2 <= size; --n, pos += 2)
        raw.push_back(std::uint16_t(data[pos] | (data[pos + 1] << 8)));
    in.stream = std::string_view(reinterpret_cast<const char*>(data + pos), size - pos);
    for (std::uint16_t r : raw) {
        if (!in.stream.empty())
            in.cuts.push_back(r % in.stream.size());
    }
    std::sort(in.cuts.begin(), in.cuts.end());
    in.cuts.erase(std::unique(in.cuts.begin(), in.cuts.end()), in.cuts.end());
    return in;
}

// The reads the cuts make of the stream.
inline std::vector<std::string_view> reads(const Input& in)
{
    std::vector<std::string_view> out;
    std::size_t from = 0;
    for (std::size_t c : in.cuts) {
        if (c > from) {
            out.push_back(in.stream.substr(from, c - from));
            from = c;
        }
    }
    if (from < in.stream.size())
        out.push_back(in.stream.substr(from));
    return out;
}

} // namespace quvo::fuzz
