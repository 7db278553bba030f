// What an upload takes from the list: the entries as the control made them, with their size
// texts and the input name each batch was added under.
#include <windows.h>
#include <gtest/gtest.h>
#include "control/PL5CtrlObject.h"
#include "filelist/ThumbnailDecoder.h"
#include "filelist/Thumbnails.h"
#include "tests/filelist/FileListTestSupport.h"
#include "ptl/ClassFactory.h"
#include "ptl/Wait.h"

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

TEST(ListedFiles, PictureOrientationIsReadWithinItsHeaderOnly)
{
    // A JPEG's Exif block (big-endian), a TIFF's own first directory (little-endian), and broken
    // ones: every offset and length must stay inside the bytes given.
    const std::string strJpeg("\xFF\xD8\xFF\xE1\x00\x22"
                              "Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0",
                              38);
    const std::string strTiff("II\x2A\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x08\0\0\0", 22);
    const struct
    {
        const char* szCase;
        std::string strBytes;
        UINT nExpected;
    } cases[] = {
        {"jpeg", strJpeg, 6},
        {"tiff", strTiff, 8},
        {"more entries than bytes", strTiff.substr(0, 8) + std::string("\x09\0\x13\x01", 4) + strTiff.substr(12), 1},
        {"segment longer than the file", strJpeg.substr(0, 20), 1},
        {"directory offset past the end", strTiff.substr(0, 4) + std::string("\xF0\xFF\0\0", 4) + strTiff.substr(8), 1},
        {"value out of range", strTiff.substr(0, 18) + std::string("\x09\0\0\0", 4), 1},
        {"not a short", strTiff.substr(0, 12) + std::string("\x04\0", 2) + strTiff.substr(14), 1},
        {"no picture", "GIF89a", 1},
    };
    for (const auto& c : cases)
    {
        // A block of exactly that size, as the header read from a file is.
        const std::vector<BYTE> bytes(c.strBytes.begin(), c.strBytes.end());
        EXPECT_EQ(c.nExpected, PictureOrientation(bytes.data(), bytes.size())) << c.szCase;
    }
}

// Each orientation tag shows the stored pixels as the tag's definition says: 6 turns the picture
// a quarter to the right, 8 a quarter to the left, 5 and 7 mirror across a diagonal.
TEST(ListedFiles, PictureOrientationTurnsThePixels)
{
    // Stored 3 by 2: 0 1 2 over 3 4 5. Expected: the rows as shown, top first.
    const struct
    {
        UINT nOrientation, nWidth;
        std::vector<DWORD> shown;
    } cases[] = {
        {1, 3, {0, 1, 2, 3, 4, 5}}, {2, 3, {2, 1, 0, 5, 4, 3}}, {3, 3, {5, 4, 3, 2, 1, 0}}, {4, 3, {3, 4, 5, 0, 1, 2}},
        {5, 2, {0, 3, 1, 4, 2, 5}}, {6, 2, {3, 0, 4, 1, 5, 2}}, {7, 2, {5, 2, 4, 1, 3, 0}}, {8, 2, {2, 5, 1, 4, 0, 3}},
    };
    for (const auto& c : cases)
    {
        CThumbnail thumbnail;
        thumbnail.nWidth = 3;
        thumbnail.nHeight = 2;
        thumbnail.pixels = {0, 1, 2, 3, 4, 5};
        ApplyOrientation(thumbnail, c.nOrientation);
        EXPECT_EQ(c.nWidth, thumbnail.nWidth) << "orientation " << c.nOrientation;
        EXPECT_EQ(6 / c.nWidth, thumbnail.nHeight) << "orientation " << c.nOrientation;
        EXPECT_EQ(c.shown, thumbnail.pixels) << "orientation " << c.nOrientation;
    }
}

// The thumbnail cache gives memory back past its limit, the least recently used first.
TEST(ListedFiles, ThumbnailCacheStaysWithinItsLimit)
{
    CTempFolder folder;
    // Pictures of 32 by 32 pixels: 4 KB each as thumbnails; the limit holds three.
    const UINT EDGE = 32;
    const size_t nRow = EDGE * 3;
    BITMAPFILEHEADER head = {};
    BITMAPINFOHEADER info = {};
    head.bfType = 0x4D42;
    head.bfOffBits = sizeof(head) + sizeof(info);
    head.bfSize = static_cast<DWORD>(head.bfOffBits + nRow * EDGE);
    info.biSize = sizeof(info);
    info.biWidth = info.biHeight = EDGE;
    info.biPlanes = 1;
    info.biBitCount = 24;
    // The cache keys a picture by path, size and write time: the same size and time stand for
    // each file here.
    const ULONGLONG SIZE = head.bfSize;
    CThumbnailLoader loader(3 * 5000);
    loader.SetEdge(EDGE);
    std::vector<std::wstring> paths;
    for (int i = 0; i < 6; ++i)
    {
        paths.push_back(folder.File(L"picture" + std::to_wstring(i) + L".bmp", 0));
        std::string strBytes(reinterpret_cast<const char*>(&head), sizeof(head));
        strBytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
        strBytes.append(nRow * EDGE, static_cast<char>(40 * i));
        {
            const PTL::CKernelHandle file(
                CreateFileW(paths.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD nWritten = 0;
            ASSERT_TRUE(
                WriteFile(file.Get(), strBytes.data(), static_cast<DWORD>(strBytes.size()), &nWritten, nullptr));
        }

        EXPECT_EQ(nullptr, loader.Find(paths.back(), SIZE, 0, true)) << "case " << i;
        std::shared_ptr<const CThumbnail> pMade;
        PTL::CWait(10000)
            .Until([&] { return (pMade = loader.Find(paths.back(), SIZE, 0, false)) != nullptr; })
            .Polling(5)
            .Run();
        ASSERT_TRUE(pMade && !pMade->Empty()) << "case " << i << ": no thumbnail within 10 s";
        EXPECT_EQ(EDGE * EDGE, pMade->pixels.size()) << "case " << i;
        EXPECT_LE(loader.CacheBytes(), loader.CacheLimit()) << "case " << i << ", " << loader.CacheCount() << " kept";
    }
    EXPECT_EQ(3u, loader.CacheCount());
    EXPECT_EQ(nullptr, loader.Find(paths[2], SIZE, 0, false)) << "the oldest go first";
    EXPECT_NE(nullptr, loader.Find(paths[3], SIZE, 0, false)) << "the newest stay";
}
