// The page as the host sees it: the OBJECT elements with their PARAMs and the SCRIPT blocks,
// in document order. Other markup is not kept. Later forms of the host give elements ids and
// rectangles; this model is where they go.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace Host {

struct CPageParam {
    std::wstring strName;
    std::wstring strValue;
    int nLine = 0;
};

struct CPageObject {
    std::wstring strId;         // empty when the tag has no id
    std::wstring strClassId;    // "{...}" form of the classid attribute's GUID
    std::wstring strWidth;      // attribute texts as written ("" when absent)
    std::wstring strHeight;
    std::vector<CPageParam> params;  // in tag order
    int nLine = 0;                   // line of the <object
};

struct CPageScript {
    std::wstring strText;        // the script's source as written between the tags
    int nLine = 0;               // line of the <script
    int nTextLine = 0;           // line on which strText starts
    int nTextColumn = 0;         // and its column there, from 0
    // Event handlers (<script for="id" event="OnEvent(a, b)">): both set, otherwise both empty.
    std::wstring strFor;
    std::wstring strEvent;               // event name without the parameter list
    std::vector<std::wstring> params;    // the handler's formal parameters
    bool IsHandler() const { return !strFor.empty(); }
};

struct CPageElement {
    enum EKind { Object, Script };
    EKind nKind = Script;
    size_t nIndex = 0;  // into CPage::objects or CPage::scripts
};

struct CPage {
    std::vector<CPageObject> objects;
    std::vector<CPageScript> scripts;
    std::vector<CPageElement> elements;  // objects and scripts in document order

    const CPageObject* FindObject(const std::wstring& strId) const;
};

// A page the host cannot run: nLine is the 1-based line where the fault was found.
class CPageError : public std::runtime_error {
public:
    CPageError(int nLine, const std::wstring& strMessage)
        : std::runtime_error("malformed page"), m_nLine(nLine), m_strMessage(strMessage)
    {
    }
    int Line() const { return m_nLine; }
    const std::wstring& Message() const { return m_strMessage; }

private:
    int m_nLine;
    std::wstring m_strMessage;
};

// Parses page text; throws CPageError for a page that is malformed or uses the subset wrongly.
CPage ParsePage(const std::wstring& strText);

// Turns the bytes of a page file into text: UTF-16 with a byte order mark, else UTF-8 (with or
// without its mark), else the ANSI code page.
std::wstring DecodePageBytes(const std::string& bytes);

}  // namespace Host
