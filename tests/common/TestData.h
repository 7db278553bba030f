// The cases kept as files in tests/data, one file per case and named for it: expected bodies and
// answers byte for byte as they go over the wire, and the recording server's scripts. A program
// that reads them is built with PL5_TEST_DATA_DIR, the folder as a Windows path ending in '/'.
#pragma once
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#ifndef PL5_TEST_DATA_DIR
#error "build the test program with PL5_TEST_DATA_DIR (tests/data as a Windows path)"
#endif

// The bytes of tests/data/<name>, with every %KEY% of `values` replaced by its value (a '%' that
// starts no key given stays as it is). A file that cannot be read fails the test and gives "".
inline std::string TestData(const std::string& strName, const std::map<std::string, std::string>& values = {})
{
    std::ifstream file(PL5_TEST_DATA_DIR + strName, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file)
    {
        ADD_FAILURE() << "cannot read " << PL5_TEST_DATA_DIR << strName;
        return std::string();
    }
    const std::string strTemplate = text.str();
    std::string strOut;
    for (size_t nPos = 0; nPos < strTemplate.size();)
    {
        const auto found = strTemplate[nPos] != '%' ? values.end() : [&] {
            for (auto it = values.begin(); it != values.end(); ++it)
                if (strTemplate.compare(nPos + 1, it->first.size() + 1, it->first + "%") == 0)
                    return it;
            return values.end();
        }();
        if (found == values.end())
        {
            strOut += strTemplate[nPos++];
            continue;
        }
        strOut += found->second;
        nPos += found->first.size() + 2;
    }
    return strOut;
}
