// What an upload takes from the list: the entries as the control made them, with their size
// texts and the input name each batch was added under.
#include <windows.h>
#include <gtest/gtest.h>
#include "control/PL5CtrlObject.h"
#include "tests/filelist/FileListTestSupport.h"
#include "ptl/ClassFactory.h"

TEST(ListedFiles, EntriesCarrySizeTextAndTheBatchsInputName)
{
    CTempFolder folder;
    const std::wstring strEmpty = folder.File(L"empty.txt", 0), strHalf = folder.File(L"half.bin", 1536);
    CComPtr<IPL5Ctrl> p;
    ASSERT_EQ(S_OK, PTL::CreateComObject<CPL5CtrlObject>(IID_IPL5Ctrl, reinterpret_cast<void**>(&p)));
    p->AddFile(CComBSTR(strEmpty.c_str()), nullptr);  // the InputName property
    p->put_InputName(CComBSTR(L"upfile"));
    p->AddFile(CComBSTR(strHalf.c_str()), CComBSTR(L""));       // empty: the property at the time
    p->AddFile(CComBSTR(strHalf.c_str()), CComBSTR(L"photo"));  // given: that name
    p->AddTempFile(CComBSTR(std::wstring(300, L'z').c_str()), 1048575, CComBSTR(L"id"));
    const std::vector<FileEntry> files = static_cast<CPL5Ctrl*>(p.Get())->ListedFiles();
    ASSERT_EQ(4u, files.size());
    const struct
    {
        const wchar_t *szSize, *szInputName;
        BYTE bTemp;
    } expected[] = {
        {L"0.00KB", L"file", 0}, {L"1.50KB", L"upfile", 0}, {L"1.50KB", L"photo", 0}, {L"1,023.99KB", L"", 1}};
    for (size_t i = 0; i < 4; ++i)
    {
        EXPECT_STREQ(expected[i].szSize, files[i].szFileSize) << "case " << i;
        EXPECT_STREQ(expected[i].szInputName, files[i].szInputName) << "case " << i;
        EXPECT_EQ(expected[i].bTemp, files[i].bTempFile) << "case " << i;
        EXPECT_EQ(UPLOAD_STATE_WAITING, files[i].nUploadState) << "case " << i;
    }
    EXPECT_EQ(std::wstring(260, L'z'), files[3].szFilePath);  // cut to the field
    EXPECT_EQ(strEmpty, files[0].szFilePath);
}
