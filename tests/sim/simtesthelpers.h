#pragma once
// A few lines of frame handling of the tests' own, so the simulator is checked against the
// protocol and not against itself.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

inline uint8_t TestChecksum(const uint8_t* msg20)
{
    unsigned sum = 0;
    for (int i = 3; i <= 17; ++i)
        sum += msg20[i];
    return uint8_t(sum);
}

// A 20-byte host request: report 0x02, head, command, data at the given positions, checksum, tail.
inline std::array<uint8_t, 20> TestRequest(uint8_t command, std::vector<std::pair<int, uint8_t>> data = {})
{
    std::array<uint8_t, 20> m{};
    m[0] = 0x02;
    m[1] = 0xAA;
    m[2] = command;
    for (auto& d : data)
        m[std::size_t(d.first)] = d.second;
    m[18] = TestChecksum(m.data());
    m[19] = 0xAB;
    return m;
}

inline int TestWord(const uint8_t* msg20, int pos)
{
    return msg20[pos] | (msg20[pos + 1] << 8);
}
