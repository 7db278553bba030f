// The page as the host sees it: the element tree with ids, texts and boxes, the OBJECT elements
// with their PARAMs and the SCRIPT blocks in document order. Markup the host does not render
// (head, style, void elements) is not kept.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace Host
{

struct CPageParam
{
    std::wstring strName;
    std::wstring strValue;
    int nLine = 0;
};

struct CPageObject
{
    std::wstring strId;       // empty when the tag has no id
    std::wstring strClassId;  // "{...}" form of the classid attribute's GUID
    std::wstring strWidth;    // attribute texts as written ("" when absent)
    std::wstring strHeight;
    std::vector<CPageParam> params;  // in tag order
    int nLine = 0;                   // line of the <object
    size_t nNode = 0;                // its element in CPage::nodes
};

// One element of the page's tree. The body is node 0; every other node names its parent.
// Boxes come from an absolute position in the style (left, top, width, height in px) or, for
// elements in the flow, from their place under the previous sibling.
struct CPageNode
{
    std::wstring strTag;  // upper case, as tagName gives it
    std::wstring strId;
    std::wstring strText;     // the element's own text, white space collapsed
    std::wstring strTitle;    // the title attribute (advisory text; assistive technology reads it)
    bool bFocusable = false;  // Tab stops here: buttons, links, objects, a tabindex of 0 or more
    size_t nParent = 0;
    int nObject = -1;  // index into CPage::objects for OBJECT elements
    bool bAbsolute = false;
    // Style lengths in px; -1 when the style does not give them.
    int nStyleLeft = -1, nStyleTop = -1, nStyleWidth = -1, nStyleHeight = -1;
    // Laid out by LayOutPage: the box in page coordinates and the offset parent (the nearest
    // positioned ancestor, else the body; the body's own is itself).
    RECT rcPage = {};
    size_t nOffsetParent = 0;
};

struct CPageScript
{
    std::wstring strText;                   // the script's source as written between the tags
    int nLine = 0;                          // line of the <script
    int nTextLine = 0;                      // line on which strText starts
    int nTextColumn = 0;                    // and its column there, from 0
    std::wstring strLanguage = L"JScript";  // the engine that runs it: "JScript" or "VBScript"
    std::wstring strSrc;                    // a script file's path relative to the page ("" inline)
    // Event handlers (<script for="id" event="OnEvent(a, b)">): both set, otherwise both empty.
    std::wstring strFor;
    std::wstring strEvent;             // event name without the parameter list
    std::vector<std::wstring> params;  // the handler's formal parameters
    bool IsHandler() const { return !strFor.empty(); }
};

struct CPageElement
{
    enum EKind
    {
        Object,
        Script
    };
    EKind nKind = Script;
    size_t nIndex = 0;  // into CPage::objects or CPage::scripts
};

struct CPage
{
    std::vector<CPageObject> objects;
    std::vector<CPageScript> scripts;
    std::vector<CPageElement> elements;  // objects and scripts in document order
    std::vector<CPageNode> nodes;        // the element tree in document order, body first

    const CPageObject* FindObject(const std::wstring& strId) const;
    // The first element with that id, or -1.
    int FindNode(const std::wstring& strId) const;
};

// A page the host cannot run: nLine is the 1-based line where the fault was found.
class CPageError : public std::runtime_error
{
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

// Gives every node its box (rcPage) and offset parent for a body of the given width; returns
// the height of the laid-out page.
int LayOutPage(CPage& page, int nBodyWidth);

// Turns the bytes of a page file into text: UTF-16 with a byte order mark, else UTF-8 (with or
// without its mark), else the ANSI code page.
std::wstring DecodePageBytes(const std::string& bytes);

// Reads a page or script file as text (DecodePageBytes); false with the system's error if it cannot.
bool ReadPageFile(const std::wstring& strPath, std::wstring& strText, DWORD& nError);

// The full Windows path of a path relative to the page's folder ("/" or "\\" between names); empty
// when there is none.
std::wstring PageFilePath(const std::wstring& strFolder, std::wstring strRelative);

}  // namespace Host
