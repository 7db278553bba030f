// A small HTML reader for the host's pages. It knows only what it needs: comments, tags with
// attributes, the raw-text elements (script, style, title, textarea, xmp), OBJECT with PARAM
// children, SCRIPT blocks, and the element tree with its texts and absolute boxes. Markup it does
// not render is skipped the way a browser skips what it does not know.
#include "tools/host/PageModel.h"
#include "ptl/Handle.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <set>

namespace Host
{
namespace
{

std::wstring Lower(std::wstring str)
{
    for (auto& ch : str)
        ch = wchar_t(std::towlower(ch));
    return str;
}

std::wstring Trim(const std::wstring& str)
{
    size_t nBegin = 0, nEnd = str.size();
    while (nBegin < nEnd && std::iswspace(str[nBegin]))
        ++nBegin;
    while (nEnd > nBegin && std::iswspace(str[nEnd - 1]))
        --nEnd;
    return str.substr(nBegin, nEnd - nBegin);
}

std::wstring Upper(std::wstring str)
{
    for (auto& ch : str)
        ch = wchar_t(std::towupper(ch));
    return str;
}

std::wstring CollapseSpace(const std::wstring& str)
{
    std::wstring strOut;
    bool bSpace = false;
    for (wchar_t ch : str)
    {
        if (std::iswspace(ch))
        {
            bSpace = true;
            continue;
        }
        if (bSpace && !strOut.empty())
            strOut += L' ';
        bSpace = false;
        strOut += ch;
    }
    return strOut;
}

// "12px" or "12" to 12; -1 for other forms.
int ParsePixels(const std::wstring& strValue)
{
    std::wstring str = Trim(strValue);
    if (str.size() > 2 && Lower(str.substr(str.size() - 2)) == L"px")
        str.resize(str.size() - 2);
    if (str.empty() || str.size() > 6 ||
        !std::all_of(str.begin(), str.end(), [](wchar_t ch) { return std::iswdigit(ch) != 0; }))
        return -1;
    return std::stoi(str);
}

bool IsIdentifier(const std::wstring& str)
{
    if (str.empty())
        return false;
    for (size_t i = 0; i < str.size(); ++i)
    {
        const wchar_t ch = str[i];
        const bool bLetter = std::iswalpha(ch) || ch == L'_' || ch == L'$';
        if (!bLetter && !(i > 0 && std::iswdigit(ch)))
            return false;
    }
    return true;
}

void AppendCodePoint(std::wstring& strOut, unsigned long nCode)
{
    if (nCode == 0 || nCode > 0x10FFFF || (nCode >= 0xD800 && nCode <= 0xDFFF))
    {
        strOut += wchar_t(0xFFFD);
    }
    else if (nCode >= 0x10000)
    {
        nCode -= 0x10000;
        strOut += wchar_t(0xD800 + (nCode >> 10));
        strOut += wchar_t(0xDC00 + (nCode & 0x3FF));
    }
    else
    {
        strOut += wchar_t(nCode);
    }
}

// Character references in attribute values, as a browser reads them. An unknown or unterminated
// reference stays as written.
std::wstring DecodeEntities(const std::wstring& str)
{
    static const std::map<std::wstring, wchar_t> named = {
        {L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}, {L"nbsp", wchar_t(0xA0)},
    };
    std::wstring strOut;
    for (size_t i = 0; i < str.size();)
    {
        if (str[i] != L'&')
        {
            strOut += str[i++];
            continue;
        }
        const size_t nSemi = str.find(L';', i + 1);
        if (nSemi == std::wstring::npos || nSemi - i > 12)
        {
            strOut += str[i++];
            continue;
        }
        const std::wstring strRef = str.substr(i + 1, nSemi - i - 1);
        bool bDone = false;
        if (strRef.size() > 1 && strRef[0] == L'#')
        {
            const bool bHex = strRef[1] == L'x' || strRef[1] == L'X';
            const std::wstring strDigits = strRef.substr(bHex ? 2 : 1);
            const bool bValid =
                !strDigits.empty() && std::all_of(strDigits.begin(), strDigits.end(), [bHex](wchar_t ch) {
                    return bHex ? std::iswxdigit(ch) != 0 : std::iswdigit(ch) != 0;
                });
            if (bValid)
            {
                AppendCodePoint(strOut, std::wcstoul(strDigits.c_str(), nullptr, bHex ? 16 : 10));
                bDone = true;
            }
        }
        else
        {
            const auto it = named.find(strRef);
            if (it != named.end())
            {
                strOut += it->second;
                bDone = true;
            }
        }
        if (bDone)
            i = nSemi + 1;
        else
            strOut += str[i++];
    }
    return strOut;
}

// "clsid:8-4-4-4-12" (case does not matter) to "{8-4-4-4-12}" in capitals; empty if malformed.
std::wstring ParseClassId(const std::wstring& strAttr)
{
    const std::wstring strValue = Trim(strAttr);
    if (strValue.size() < 6 || Lower(strValue.substr(0, 6)) != L"clsid:")
        return std::wstring();
    std::wstring strGuid = Trim(strValue.substr(6));
    if (strGuid.size() == 38 && strGuid.front() == L'{' && strGuid.back() == L'}')
        strGuid = strGuid.substr(1, 36);
    if (strGuid.size() != 36)
        return std::wstring();
    for (size_t i = 0; i < strGuid.size(); ++i)
    {
        const bool bDash = i == 8 || i == 13 || i == 18 || i == 23;
        if (bDash ? strGuid[i] != L'-' : !std::iswxdigit(strGuid[i]))
            return std::wstring();
        strGuid[i] = wchar_t(std::towupper(strGuid[i]));
    }
    return L"{" + strGuid + L"}";
}

// The engine of a script block by its type or language attribute: "JScript" (also without
// either), "VBScript", or empty for a language no engine here runs.
std::wstring ScriptLanguage(const std::wstring& strLanguage, const std::wstring& strType)
{
    static const std::set<std::wstring> languages = {L"javascript",    L"jscript",       L"javascript1.1",
                                                     L"javascript1.2", L"javascript1.3", L"ecmascript"};
    static const std::set<std::wstring> types = {L"text/javascript", L"text/jscript", L"application/javascript",
                                                 L"application/x-javascript", L"text/ecmascript"};
    if (!strType.empty())
    {
        const std::wstring strLower = Lower(Trim(strType));
        return types.count(strLower) ? L"JScript" : strLower == L"text/vbscript" ? L"VBScript" : L"";
    }
    const std::wstring strLower = Lower(Trim(strLanguage));
    return strLower.empty() || languages.count(strLower) ? L"JScript" : strLower == L"vbscript" ? L"VBScript" : L"";
}

class CPageReader
{
public:
    explicit CPageReader(const std::wstring& strText) : m_str(strText) {}

    CPage Read()
    {
        m_page.nodes.push_back(CPageNode());
        m_page.nodes[0].strTag = L"BODY";
        m_stack.push_back(0);
        while (m_nPos < m_str.size())
        {
            if (m_str[m_nPos] != L'<')
            {
                CPageNode& node = m_page.nodes[m_stack.back()];
                if (node.nObject < 0)  // an object's fallback content is not shown
                    node.strText += m_str[m_nPos];
                Advance(1);
            }
            else if (StartsWith(L"<!--"))
            {
                const int nLine = m_nLine;
                if (!SkipPast(L"-->", m_nPos + 4))
                    throw CPageError(nLine, L"comment is not closed");
            }
            else if (StartsWith(L"<!") || StartsWith(L"<?"))
            {
                const int nLine = m_nLine;
                if (!SkipPast(L">", m_nPos + 2))
                    throw CPageError(nLine, L"declaration is not closed");
            }
            else if (StartsWith(L"</") && m_nPos + 2 < m_str.size() && std::iswalpha(m_str[m_nPos + 2]))
            {
                ReadEndTag();
            }
            else if (m_nPos + 1 < m_str.size() && std::iswalpha(m_str[m_nPos + 1]))
            {
                ReadStartTag();
            }
            else
            {
                Advance(1);  // a lone '<' in text
            }
        }
        if (m_bInObject)
            throw CPageError(m_page.objects.back().nLine, L"<object> is not closed");
        CheckHandlers();
        for (auto& node : m_page.nodes)
            node.strText = CollapseSpace(DecodeEntities(node.strText));
        return std::move(m_page);
    }

private:
    struct CTag
    {
        std::wstring strName;                             // lower case
        std::map<std::wstring, std::wstring> attributes;  // names in lower case, values decoded
        int nLine = 0;
        bool Has(const wchar_t* pszName) const { return attributes.count(pszName) != 0; }
        std::wstring Get(const wchar_t* pszName) const
        {
            const auto it = attributes.find(pszName);
            return it == attributes.end() ? std::wstring() : it->second;
        }
    };

    bool StartsWith(const wchar_t* psz) const { return m_str.compare(m_nPos, wcslen(psz), psz) == 0; }

    void Advance(size_t nCount)
    {
        for (size_t i = 0; i < nCount && m_nPos < m_str.size(); ++i, ++m_nPos)
        {
            if (m_str[m_nPos] == L'\n')
            {
                ++m_nLine;
                m_nLineStart = m_nPos + 1;
            }
        }
    }

    // Moves past the next occurrence of strEnd at or after nFrom; false if there is none.
    bool SkipPast(const std::wstring& strEnd, size_t nFrom)
    {
        const size_t nFound = m_str.find(strEnd, nFrom);
        if (nFound == std::wstring::npos)
            return false;
        Advance(nFound + strEnd.size() - m_nPos);
        return true;
    }

    void SkipSpace()
    {
        while (m_nPos < m_str.size() && std::iswspace(m_str[m_nPos]))
            Advance(1);
    }

    std::wstring ReadName()
    {
        const size_t nBegin = m_nPos;
        while (m_nPos < m_str.size() && !std::iswspace(m_str[m_nPos]) && m_str[m_nPos] != L'>' &&
               m_str[m_nPos] != L'/' && m_str[m_nPos] != L'=')
            Advance(1);
        return Lower(m_str.substr(nBegin, m_nPos - nBegin));
    }

    CTag ReadTag()
    {
        CTag tag;
        tag.nLine = m_nLine;
        Advance(1);  // '<'
        tag.strName = ReadName();
        for (;;)
        {
            SkipSpace();
            if (m_nPos >= m_str.size())
                throw CPageError(tag.nLine, L"<" + tag.strName + L"> tag is not closed");
            if (m_str[m_nPos] == L'>')
            {
                Advance(1);
                return tag;
            }
            if (m_str[m_nPos] == L'/')
            {
                Advance(1);
                continue;
            }
            const int nAttrLine = m_nLine;
            std::wstring strName = ReadName();
            if (strName.empty())
            {  // a stray '=' or similar: skip it as a browser does
                Advance(1);
                continue;
            }
            std::wstring strValue;
            SkipSpace();
            if (m_nPos < m_str.size() && m_str[m_nPos] == L'=')
            {
                Advance(1);
                SkipSpace();
                strValue = ReadAttributeValue(strName, nAttrLine);
            }
            tag.attributes.emplace(strName, DecodeEntities(strValue));  // the first of duplicates wins
        }
    }

    std::wstring ReadAttributeValue(const std::wstring& strName, int nAttrLine)
    {
        if (m_nPos >= m_str.size())
            return std::wstring();
        const wchar_t chQuote = m_str[m_nPos];
        if (chQuote == L'"' || chQuote == L'\'')
        {
            const size_t nEnd = m_str.find(chQuote, m_nPos + 1);
            if (nEnd == std::wstring::npos)
                throw CPageError(nAttrLine, L"value of attribute '" + strName + L"' is not closed");
            std::wstring strValue = m_str.substr(m_nPos + 1, nEnd - m_nPos - 1);
            Advance(nEnd + 1 - m_nPos);
            return strValue;
        }
        const size_t nBegin = m_nPos;
        while (m_nPos < m_str.size() && !std::iswspace(m_str[m_nPos]) && m_str[m_nPos] != L'>')
            Advance(1);
        return m_str.substr(nBegin, m_nPos - nBegin);
    }

    // The raw text of a script or similar element up to its end tag; the reader is left after
    // the end tag.
    std::wstring ReadRawText(const CTag& tag)
    {
        const std::wstring strEnd = L"</" + tag.strName;
        size_t nFound = m_nPos;
        for (;; ++nFound)
        {
            nFound = m_str.find(L"</", nFound);
            if (nFound == std::wstring::npos)
                throw CPageError(tag.nLine, L"<" + tag.strName + L"> is not closed");
            const size_t nAfter = nFound + strEnd.size();
            if (nAfter > m_str.size() || Lower(m_str.substr(nFound, strEnd.size())) != strEnd)
                continue;
            if (nAfter == m_str.size() || std::iswspace(m_str[nAfter]) || m_str[nAfter] == L'>' ||
                m_str[nAfter] == L'/')
                break;
        }
        std::wstring strText = m_str.substr(m_nPos, nFound - m_nPos);
        Advance(nFound - m_nPos);
        if (!SkipPast(L">", m_nPos))
            throw CPageError(m_nLine, L"</" + tag.strName + L"> tag is not closed");
        return strText;
    }

    void ReadEndTag()
    {
        const int nLine = m_nLine;
        Advance(2);
        const std::wstring strName = ReadName();
        if (!SkipPast(L">", m_nPos))
            throw CPageError(nLine, L"</" + strName + L"> tag is not closed");
        if (strName == L"object")
        {
            if (!m_bInObject)
                throw CPageError(nLine, L"</object> without <object>");
            m_bInObject = false;
        }
        // An end tag closes its element and whatever was left open inside it; a stray one is
        // ignored, as a browser does.
        const std::wstring strTag = Upper(strName);
        for (size_t i = m_stack.size(); i > 1; --i)
        {
            if (m_page.nodes[m_stack[i - 1]].strTag == strTag)
            {
                m_stack.resize(i - 1);
                break;
            }
        }
    }

    // Every rendered element with content becomes a node; html, head and body are the body.
    void OpenNode(const CTag& tag)
    {
        static const std::set<std::wstring> skipped = {L"html",  L"head",   L"body",     L"meta", L"link",    L"br",
                                                       L"hr",    L"img",    L"input",    L"area", L"base",    L"col",
                                                       L"embed", L"source", L"track",    L"wbr",  L"param",   L"script",
                                                       L"style", L"title",  L"textarea", L"xmp",  L"!doctype"};
        if (skipped.count(tag.strName))
            return;
        CPageNode node;
        node.strTag = Upper(tag.strName);
        node.strId = Trim(tag.Get(L"id"));
        node.strTitle = tag.Get(L"title");
        const std::wstring strTabIndex = Trim(tag.Get(L"tabindex"));
        node.bFocusable = strTabIndex.empty()
                              ? (tag.strName == L"button" || tag.strName == L"a" || tag.strName == L"object")
                              : strTabIndex[0] != L'-';
        node.nParent = m_stack.back();
        ReadStyle(tag.Get(L"style"), node);
        m_stack.push_back(m_page.nodes.size());
        m_page.nodes.push_back(std::move(node));
    }

    static void ReadStyle(const std::wstring& strStyle, CPageNode& node)
    {
        size_t nBegin = 0;
        while (nBegin <= strStyle.size())
        {
            size_t nEnd = strStyle.find(L';', nBegin);
            if (nEnd == std::wstring::npos)
                nEnd = strStyle.size();
            const std::wstring strDecl = strStyle.substr(nBegin, nEnd - nBegin);
            nBegin = nEnd + 1;
            const size_t nColon = strDecl.find(L':');
            if (nColon == std::wstring::npos)
                continue;
            const std::wstring strName = Lower(Trim(strDecl.substr(0, nColon)));
            const std::wstring strValue = Lower(Trim(strDecl.substr(nColon + 1)));
            if (strName == L"position")
                node.bAbsolute = strValue == L"absolute";
            else if (strName == L"left")
                node.nStyleLeft = ParsePixels(strValue);
            else if (strName == L"top")
                node.nStyleTop = ParsePixels(strValue);
            else if (strName == L"width")
                node.nStyleWidth = ParsePixels(strValue);
            else if (strName == L"height")
                node.nStyleHeight = ParsePixels(strValue);
        }
    }

    void ReadStartTag()
    {
        const CTag tag = ReadTag();
        if (!m_bInObject)
            OpenNode(tag);
        if (tag.strName == L"script")
            ReadScript(tag);
        else if (tag.strName == L"style" || tag.strName == L"title" || tag.strName == L"textarea" ||
                 tag.strName == L"xmp")
            ReadRawText(tag);
        else if (tag.strName == L"object")
            ReadObject(tag);
        else if (tag.strName == L"param")
            ReadParam(tag);
    }

    void ReadObject(const CTag& tag)
    {
        if (m_bInObject)
            throw CPageError(tag.nLine, L"<object> inside <object> is not supported");
        CPageObject object;
        object.nLine = tag.nLine;
        object.strId = Trim(tag.Get(L"id"));
        if (!tag.Has(L"classid"))
            throw CPageError(tag.nLine, L"<object> without classid");
        object.strClassId = ParseClassId(tag.Get(L"classid"));
        if (object.strClassId.empty())
            throw CPageError(tag.nLine, L"classid '" + tag.Get(L"classid") +
                                            L"' is not of the form CLSID:xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx");
        if (!object.strId.empty())
        {
            if (!IsIdentifier(object.strId))
                throw CPageError(tag.nLine, L"object id '" + object.strId + L"' is not a script name");
            if (m_page.FindObject(object.strId))
                throw CPageError(tag.nLine, L"a second object with id '" + object.strId + L"'");
        }
        object.strWidth = Trim(tag.Get(L"width"));
        object.strHeight = Trim(tag.Get(L"height"));
        object.nNode = m_stack.back();
        CPageNode& node = m_page.nodes[object.nNode];
        node.nObject = int(m_page.objects.size());
        if (node.nStyleWidth < 0)
            node.nStyleWidth = ParsePixels(object.strWidth);
        if (node.nStyleHeight < 0)
            node.nStyleHeight = ParsePixels(object.strHeight);
        m_page.elements.push_back({CPageElement::Object, m_page.objects.size()});
        m_page.objects.push_back(std::move(object));
        m_bInObject = true;
    }

    void ReadParam(const CTag& tag)
    {
        if (!m_bInObject)
            throw CPageError(tag.nLine, L"<param> outside <object>");
        if (!tag.Has(L"name") || Trim(tag.Get(L"name")).empty())
            throw CPageError(tag.nLine, L"<param> without name");
        m_page.objects.back().params.push_back({Trim(tag.Get(L"name")), tag.Get(L"value"), tag.nLine});
    }

    void ReadScript(const CTag& tag)
    {
        if (m_bInObject)
            throw CPageError(tag.nLine, L"<script> inside <object>");
        CPageScript script;
        script.strLanguage = ScriptLanguage(tag.Get(L"language"), tag.Get(L"type"));
        if (script.strLanguage.empty())
            throw CPageError(tag.nLine, L"script language '" + tag.Get(tag.Has(L"type") ? L"type" : L"language") +
                                            L"' is not supported; only JScript and VBScript run here");
        if (tag.Has(L"src"))
        {
            // A file of the page's own, found from the page's folder: no server, drive or root.
            script.strSrc = Trim(tag.Get(L"src"));
            if (script.strSrc.empty() || script.strSrc.find(L':') != std::wstring::npos || script.strSrc[0] == L'/' ||
                script.strSrc[0] == L'\\')
                throw CPageError(tag.nLine, L"script src '" + script.strSrc +
                                                L"' is not a path relative to the page; only its own files load here");
            if (tag.Has(L"for") || tag.Has(L"event"))
                throw CPageError(tag.nLine, L"an event handler's script stands in the page, not in a src file");
        }
        script.nLine = tag.nLine;
        script.nTextLine = m_nLine;
        script.nTextColumn = int(m_nPos - m_nLineStart);
        if (tag.Has(L"for") || tag.Has(L"event"))
        {
            script.strFor = Trim(tag.Get(L"for"));
            if (script.strFor.empty() || Trim(tag.Get(L"event")).empty())
                throw CPageError(tag.nLine, L"an event handler needs both for and event");
            ParseEventAttribute(tag.nLine, Trim(tag.Get(L"event")), script);
        }
        script.strText = ReadRawText(tag);
        m_page.elements.push_back({CPageElement::Script, m_page.scripts.size()});
        m_page.scripts.push_back(std::move(script));
    }

    // "OnEvent(a, b)" or "OnEvent" into the event name and its parameter names.
    static void ParseEventAttribute(int nLine, const std::wstring& strEvent, CPageScript& script)
    {
        const size_t nOpen = strEvent.find(L'(');
        script.strEvent = Trim(strEvent.substr(0, nOpen));
        bool bValid = IsIdentifier(script.strEvent);
        if (bValid && nOpen != std::wstring::npos)
        {
            bValid = strEvent.back() == L')';
            const std::wstring strList = Trim(strEvent.substr(nOpen + 1, strEvent.size() - nOpen - 2));
            size_t nBegin = 0;
            while (bValid && !strList.empty())
            {
                const size_t nComma = strList.find(L',', nBegin);
                const std::wstring strParam = Trim(strList.substr(nBegin, nComma - nBegin));
                bValid = IsIdentifier(strParam);
                script.params.push_back(strParam);
                if (nComma == std::wstring::npos)
                    break;
                nBegin = nComma + 1;
            }
        }
        if (!bValid)
            throw CPageError(nLine, L"event '" + strEvent + L"' is not of the form Name(a, b)");
    }

    void CheckHandlers() const
    {
        for (const auto& script : m_page.scripts)
            if (script.IsHandler() && !m_page.FindObject(script.strFor))
                throw CPageError(script.nLine,
                                 L"event handler for '" + script.strFor + L"', which is no object of the page");
    }

    const std::wstring& m_str;
    size_t m_nPos = 0;
    int m_nLine = 1;
    size_t m_nLineStart = 0;
    bool m_bInObject = false;
    std::vector<size_t> m_stack;  // the open elements, body first
    CPage m_page;
};

// Places a node and its children: absolute ones at their offsets from the offset parent, the
// others one under the other in the parent's flow (the body with a browser's 8 px margin).
// Returns the node's height.
constexpr int LINE = 20;

// The lines an element's text takes when the page paints it word-wrapped inside its box (the
// page's font, 3 pixels in from either side): the elements that follow flow below all of them.
int TextLines(const std::wstring& strText, int nWidth)
{
    if (strText.empty())
        return 0;
    const PTL::CWindowDC screen(nullptr);
    const HDC hdc = screen.Get();
    if (!hdc)
        return 1;
    const HGDIOBJ hOldFont = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW tm = {};
    GetTextMetricsW(hdc, &tm);
    RECT rc = {0, 0, std::max(nWidth - 6, 1), 0};
    DrawTextW(hdc, strText.c_str(), int(strText.size()), &rc, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(hdc, hOldFont);
    return tm.tmHeight > 0 ? std::max<int>(1, (rc.bottom + tm.tmHeight - 1) / tm.tmHeight) : 1;
}

int LayOutNode(CPage& page, size_t nNode, int nLeft, int nTop, int nWidth)
{
    CPageNode& node = page.nodes[nNode];
    node.rcPage.left = nLeft;
    node.rcPage.top = nTop;
    node.rcPage.right = nLeft + nWidth;
    const int nMargin = nNode == 0 ? 8 : 0;
    int nFlow = nTop + nMargin + LINE * TextLines(node.strText, nWidth);
    for (size_t i = nNode + 1; i < page.nodes.size(); ++i)
    {
        if (page.nodes[i].nParent != nNode)
            continue;
        CPageNode& child = page.nodes[i];
        const CPageNode& parent = page.nodes[nNode];
        child.nOffsetParent = nNode == 0 || parent.bAbsolute ? nNode : parent.nOffsetParent;
        const int nTextWidth = int(child.strText.size()) * 8 + 8;
        if (child.bAbsolute)
        {
            const RECT& rcBase = page.nodes[child.nOffsetParent].rcPage;
            LayOutNode(page, i, rcBase.left + std::max(child.nStyleLeft, 0), rcBase.top + std::max(child.nStyleTop, 0),
                       child.nStyleWidth >= 0 ? child.nStyleWidth : nTextWidth);
        }
        else
        {
            const int nChildWidth = child.nStyleWidth >= 0 ? child.nStyleWidth : nWidth - 2 * nMargin;
            nFlow += LayOutNode(page, i, nLeft + nMargin, nFlow, nChildWidth);
        }
    }
    const CPageNode& done = page.nodes[nNode];
    const int nHeight = done.nStyleHeight >= 0 ? done.nStyleHeight : nFlow - nTop + nMargin;
    page.nodes[nNode].rcPage.bottom = nTop + nHeight;
    return nHeight;
}

}  // namespace

int LayOutPage(CPage& page, int nBodyWidth)
{
    if (page.nodes.empty())
        return 0;
    return LayOutNode(page, 0, 0, 0, nBodyWidth);
}

int CPage::FindNode(const std::wstring& strId) const
{
    for (size_t i = 0; i < nodes.size(); ++i)
        if (!strId.empty() && nodes[i].strId == strId)
            return int(i);
    return -1;
}

const CPageObject* CPage::FindObject(const std::wstring& strId) const
{
    for (const auto& object : objects)
        if (!object.strId.empty() && object.strId == strId)
            return &object;
    return nullptr;
}

CPage ParsePage(const std::wstring& strText) { return CPageReader(strText).Read(); }

bool ReadPageFile(const std::wstring& strPath, std::wstring& strText, DWORD& nError)
{
    const PTL::CKernelHandle file(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
    {
        nError = GetLastError();
        return false;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024)
    {
        nError = ERROR_FILE_TOO_LARGE;
        return false;
    }
    std::string bytes(size_t(size.QuadPart), '\0');
    DWORD nRead = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.Get(), &bytes[0], DWORD(bytes.size()), &nRead, nullptr) || nRead != bytes.size()))
    {
        nError = GetLastError();
        return false;
    }
    strText = DecodePageBytes(bytes);
    return true;
}

std::wstring PageFilePath(const std::wstring& strFolder, std::wstring strRelative)
{
    for (auto& ch : strRelative)
        if (ch == L'/')
            ch = L'\\';
    const std::wstring strJoined = strFolder + L"\\" + strRelative;
    wchar_t szFull[MAX_PATH * 4];
    const DWORD nLen = GetFullPathNameW(strJoined.c_str(), MAX_PATH * 4, szFull, nullptr);
    return nLen == 0 || nLen >= MAX_PATH * 4 ? std::wstring() : std::wstring(szFull, nLen);
}

std::wstring DecodePageBytes(const std::string& bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    std::string strBody = bytes;
    if (strBody.size() >= 3 && strBody.compare(0, 3, "\xEF\xBB\xBF") == 0)
        strBody.erase(0, 3);
    for (UINT nCodePage : {UINT(CP_UTF8), UINT(CP_ACP)})
    {
        const DWORD nFlags = nCodePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int nLen = MultiByteToWideChar(nCodePage, nFlags, strBody.data(), int(strBody.size()), nullptr, 0);
        if (nLen <= 0 && !strBody.empty())
            continue;
        std::wstring strOut(size_t(nLen), L'\0');
        MultiByteToWideChar(nCodePage, nFlags, strBody.data(), int(strBody.size()), &strOut[0], nLen);
        return strOut;
    }
    return std::wstring();
}

}  // namespace Host
