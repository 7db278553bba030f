#include "filelist/FilterList.h"
#include "ptl/ScriptArray.h"

void CFilterList::AppendFrom(const VARIANT& varName, const VARIANT& varPattern)
{
    // Read completely before anything is appended: a getter of the page's arrays may call back
    // into the control.
    std::vector<CFilterPair> pairs;
    for (auto& pair : PTL::ReadStringPairs(varName, varPattern))
        pairs.push_back({std::move(pair.first), std::move(pair.second)});
    m_pairs.insert(m_pairs.end(), pairs.begin(), pairs.end());
}
