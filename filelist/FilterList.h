// The filters a page offers in the file dialog, appended one pair at a time or from two script
// arrays.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>
#include "filelist/FileDialog.h"

class CFilterList
{
public:
    void Append(const std::wstring& strName, const std::wstring& strPattern)
    {
        m_pairs.push_back({strName, strPattern});
    }
    // Two strings append one pair. Two script arrays of equal length append the pairs of their
    // elements, skipping a pair where either is not a string. Any other combination appends
    // nothing (PTL::ReadStringPairs). Throws std::bad_alloc, having appended nothing.
    void AppendFrom(const VARIANT& varName, const VARIANT& varPattern);
    void Clear() { m_pairs.clear(); }
    const std::vector<CFilterPair>& Pairs() const { return m_pairs; }

private:
    std::vector<CFilterPair> m_pairs;
};
