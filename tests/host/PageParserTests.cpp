// The page reader: what it keeps of a page, and the line it names for a page it cannot run.
#include "tools/host/PageModel.h"

#include <gtest/gtest.h>

using namespace Host;

namespace
{

const wchar_t FULL_PAGE[] =
    L"<!DOCTYPE html>\n"                                                                         // 1
    L"<html><head><title>a <object> in a title</title>\n"                                        // 2
    L"<style>p < b { color: red }</style></head>\n"                                              // 3
    L"<body><!-- <object id=x classid=\"bad\"> -->\n"                                            // 4
    L"<p>a < b and a <b>bold</b> word</p>\n"                                                     // 5
    L"<OBJECT ID=\"ctl\" CLASSID=\"clsid:7e2a99b8-b972-44db-9201-9a443a38efd5\" width=400\n"     // 6
    L"        height=\"300px\">\n"                                                               // 7
    L"  <PARAM NAME=\"Action\" VALUE=\"http://h/?a=1&amp;b=2\">\n"                               // 8
    L"  <param name='InputName' value='file&#91;&#x5D;&unknown;'>\n"                             // 9
    L"  <param name=Language value=en><param name=\"Empty\">\n"                                  // 10
    L"  <p>shown where objects do not run</p>\n"                                                 // 11
    L"</OBJECT>\n"                                                                               // 12
    L"<script>var a = \"</scripts>\";\n"                                                         // 13
    L"</script>\n"                                                                               // 14
    L"<script for=\"ctl\" event=\"OnBeforeDrop( file , input )\">\n"                             // 15
    L"  return false;</script>\n"                                                                // 16
    L"<script language=\"JScript\" for=ctl event=OnUploadCancel>host.Exit(0)</SCRIPT >\n"        // 17
    L"<object id=\"two\" classid=\"CLSID:{EE09B103-97E0-11CF-978F-00A02463E06F}\"></object>\n";  // 18

TEST(PageParser, KeepsObjectsParamsAndScriptsInDocumentOrder)
{
    const CPage page = ParsePage(FULL_PAGE);

    ASSERT_EQ(2u, page.objects.size());
    const CPageObject& object = page.objects[0];
    EXPECT_EQ(L"ctl", object.strId);
    EXPECT_EQ(L"{7E2A99B8-B972-44DB-9201-9A443A38EFD5}", object.strClassId);
    EXPECT_EQ(L"400", object.strWidth);
    EXPECT_EQ(L"300px", object.strHeight);
    EXPECT_EQ(6, object.nLine);
    EXPECT_EQ(L"{EE09B103-97E0-11CF-978F-00A02463E06F}", page.objects[1].strClassId);

    const struct
    {
        const wchar_t* pszName;
        const wchar_t* pszValue;
        int nLine;
    } params[] = {
        {L"Action", L"http://h/?a=1&b=2", 8},
        {L"InputName", L"file[]&unknown;", 9},
        {L"Language", L"en", 10},
        {L"Empty", L"", 10},
    };
    ASSERT_EQ(std::size(params), object.params.size());
    for (size_t i = 0; i < std::size(params); ++i)
    {
        EXPECT_EQ(params[i].pszName, object.params[i].strName) << "case " << i;
        EXPECT_EQ(params[i].pszValue, object.params[i].strValue) << "case " << i;
        EXPECT_EQ(params[i].nLine, object.params[i].nLine) << "case " << i;
    }

    ASSERT_EQ(3u, page.scripts.size());
    const struct
    {
        const wchar_t* pszText;
        int nLine;
        int nTextLine;
        const wchar_t* pszFor;
        const wchar_t* pszEvent;
        std::vector<std::wstring> params;
    } scripts[] = {
        {L"var a = \"</scripts>\";\n", 13, 13, L"", L"", {}},
        {L"\n  return false;", 15, 15, L"ctl", L"OnBeforeDrop", {L"file", L"input"}},
        {L"host.Exit(0)", 17, 17, L"ctl", L"OnUploadCancel", {}},
    };
    for (size_t i = 0; i < std::size(scripts); ++i)
    {
        EXPECT_EQ(scripts[i].pszText, page.scripts[i].strText) << "case " << i;
        EXPECT_EQ(scripts[i].nLine, page.scripts[i].nLine) << "case " << i;
        EXPECT_EQ(scripts[i].nTextLine, page.scripts[i].nTextLine) << "case " << i;
        EXPECT_EQ(scripts[i].pszFor, page.scripts[i].strFor) << "case " << i;
        EXPECT_EQ(scripts[i].pszEvent, page.scripts[i].strEvent) << "case " << i;
        EXPECT_EQ(scripts[i].params, page.scripts[i].params) << "case " << i;
    }

    const CPageElement::EKind order[] = {CPageElement::Object, CPageElement::Script, CPageElement::Script,
                                         CPageElement::Script, CPageElement::Object};
    ASSERT_EQ(std::size(order), page.elements.size());
    for (size_t i = 0; i < std::size(order); ++i)
        EXPECT_EQ(order[i], page.elements[i].nKind) << "case " << i;
    EXPECT_EQ(1u, page.elements[4].nIndex);
}

TEST(PageParser, MalformedPagesNameTheLine)
{
    // (A <param> outside <object> is read by the host program from the malformed page.)
    const wchar_t* const OBJ = L"<object id=a classid=\"clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5\">";
    const struct
    {
        std::wstring strPage;
        int nLine;
        const wchar_t* pszMessage;  // a part of the message
    } cases[] = {
        {L"<p>\n<!-- open", 2, L"comment is not closed"},
        {L"\n\n" + std::wstring(OBJ) + L"\n<param name=x value=1>\n", 3, L"<object> is not closed"},
        {L"<script>\nvar a;\n", 1, L"<script> is not closed"},
        {L"\n<object id=a>\n</object>", 2, L"without classid"},
        {L"<object classid=\"clsid:1234\"></object>", 1, L"is not of the form"},
        {L"<object classid=\"7E2A99B8-B972-44DB-9201-9A443A38EFD5\"></object>", 1, L"is not of the form"},
        {std::wstring(OBJ) + L"</object>\n" + OBJ + L"</object>", 2, L"a second object with id 'a'"},
        {std::wstring(OBJ) + L"\n" + OBJ, 2, L"inside <object>"},
        {std::wstring(OBJ) + L"\n<script>x</script></object>", 2, L"<script> inside <object>"},
        {std::wstring(OBJ) + L"</object>\n\n<script for=\"b\" event=\"OnX()\">x</script>", 3, L"no object of the page"},
        {L"<script for=\"a\">x</script>", 1, L"needs both for and event"},
        {std::wstring(OBJ) + L"</object><script for=a event=\"On X(a)\">x</script>", 1, L"is not of the form"},
        {std::wstring(OBJ) + L"</object><script for=a event=\"OnX(a b)\">x</script>", 1, L"is not of the form"},
        {std::wstring(OBJ) + L"</object><script for=a event=\"OnX(a,)\">x</script>", 1, L"is not of the form"},
        {L"\n<script language=\"PerlScript\">x</script>", 2, L"only JScript and VBScript"},
        {L"<script type=\"text/python\">x</script>", 1, L"only JScript and VBScript"},
        {L"<script src=\"http://h/a.js\"></script>", 1, L"is not a path relative to the page"},
        {L"<script src=\"//h/a.js\"></script>", 1, L"is not a path relative to the page"},
        {L"<script src=\"C:\\a.js\"></script>", 1, L"is not a path relative to the page"},
        {std::wstring(OBJ) + L"</object><script for=a event=OnX src=a.js></script>", 1, L"stands in the page"},
        {L"<div title=\"abc>\n\n", 1, L"value of attribute 'title' is not closed"},
        {L"<p>\n<div\n class=x", 2, L"<div> tag is not closed"},
        {L"<p>\n\n</object>", 3, L"</object> without <object>"},
        {std::wstring(OBJ) + L"\n<param value=1></object>", 2, L"<param> without name"},
        {L"<object id=\"my-ctl\" classid=\"clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5\"></object>", 1,
         L"is not a script name"},
        {L"<!DOCTYPE html", 1, L"declaration is not closed"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        try
        {
            ParsePage(cases[i].strPage);
            ADD_FAILURE() << "case " << i << ": no error";
        }
        catch (const CPageError& error)
        {
            EXPECT_EQ(cases[i].nLine, error.Line()) << "case " << i;
            EXPECT_NE(std::wstring::npos, error.Message().find(cases[i].pszMessage))
                << "case " << i << ": " << std::string(error.Message().begin(), error.Message().end());
        }
    }
}

TEST(PageParser, OrdinaryMarkupIsNoError)
{
    const wchar_t* const pages[] = {
        L"",
        L"plain text with a < and a > and 1 <2",
        L"<p>unclosed <b>tags <i>everywhere",
        L"<br/><img src=a.png alt=''/><input disabled>",
        L"<textarea><object></textarea><xmp><param name=a></xmp>",
        L"<script></script><script type=\"text/javascript\">1</script>",
        L"<?xml version=\"1.0\"?><p title=\"a > b\">",
    };
    for (size_t i = 0; i < std::size(pages); ++i)
    {
        try
        {
            const CPage page = ParsePage(pages[i]);
            EXPECT_TRUE(page.objects.empty()) << "case " << i;
        }
        catch (const CPageError& error)
        {
            ADD_FAILURE() << "case " << i << ": line " << error.Line();
        }
    }
}

TEST(PageParser, DecodesPageFiles)
{
    const struct
    {
        std::string bytes;
        std::wstring strText;
    } cases[] = {
        {"<p>\xEC\x95\x8C\xEB\xA6\xBC</p>", L"<p>\xC54C\xB9BC</p>"},  // UTF-8
        {"\xEF\xBB\xBF<p>\xEC\x95\x8C</p>", L"<p>\xC54C</p>"},        // UTF-8 with its mark
        {std::string("\xFF\xFE<\0p\0>\0", 8), L"<p>"},                // UTF-16 with its mark
        {"", L""},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].strText, DecodePageBytes(cases[i].bytes)) << "case " << i;
    // Bytes that are no UTF-8 still give text (the ANSI code page), one character per byte here.
    EXPECT_EQ(4u, DecodePageBytes("<p>\xE9").size());
}

}  // namespace
