// The standard's Huffman code words, read from ../shared/iso-tables/huffcode,
// for the tests that check our tables and decoding against them.
#pragma once

#include "testsupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace huffmancodes {

struct Code {
    std::string bits;
    int x = 0, y = 0;  // for the count1 tables, x holds vwxy
};

// The code words per table number (32 and 33 are the count1 tables).
inline std::map<int, std::vector<Code>> readStandardCodes()
{
    std::ifstream in(testsupport::sharedDir() + "/iso-tables/huffcode");
    EXPECT_TRUE(in) << "iso-tables/huffcode missing";
    std::map<int, std::vector<Code>> tables;
    std::string line;
    int current = -1;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string first;
        if (!(words >> first))
            continue;
        if (first == ".table") {
            words >> current;
            tables[current];
        } else if (first[0] != '.' && current >= 0) {
            Code c;
            int length = 0;
            c.x = std::stoi(first);
            if (current < 32)
                words >> c.y;
            words >> length >> c.bits;
            EXPECT_EQ(static_cast<int>(c.bits.size()), length);
            tables[current].push_back(c);
        }
    }
    return tables;
}

} // namespace huffmancodes
