// The program's own memcpy, memset, memcmp, strlen, strcmp, strchr and
// strpbrk (runtime/CString.cpp), linked into this test program in place of
// msvcrt.dll's. They are called through pointers the compiler cannot see
// through, so that no call is replaced by inline code.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

template <typename Function>
Function Opaque(Function function)
{
    Function volatile hidden = function;
    return hidden;
}

bool InThisProgram(const void* address)
{
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &module) &&
           module == GetModuleHandleA(nullptr);
}

TEST(CString, TheFunctionsAreTheProgramsOwn)
{
    EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(Opaque(&memcpy))));
    EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(Opaque(&memset))));
    EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(Opaque(&memcmp))));
    EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(Opaque(&strlen))));
    EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(Opaque(&strcmp))));
    EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(Opaque(&strpbrk))));
}

TEST(CString, MemcpyCopiesExactlyTheCountAndReturnsTheDestination)
{
    auto copy = Opaque(&memcpy);
    unsigned char source[300], target[304];
    for (int i = 0; i < 300; ++i)
        source[i] = static_cast<unsigned char>(i * 7 + 1);
    for (size_t count : {size_t(0), size_t(1), size_t(3), size_t(64), size_t(255), size_t(300)}) {
        for (size_t offset : {size_t(0), size_t(1), size_t(3)}) {
            std::fill(target, target + sizeof target, 0xEE);
            EXPECT_EQ(copy(target + offset, source, count), target + offset);
            for (size_t i = 0; i < sizeof target; ++i) {
                const unsigned char want = i >= offset && i < offset + count ? source[i - offset] : 0xEE;
                ASSERT_EQ(target[i], want) << "count " << count << " offset " << offset << " byte " << i;
            }
        }
    }
}

TEST(CString, MemsetFillsWithTheLowByteOnly)
{
    auto fill = Opaque(&memset);
    unsigned char buffer[200];
    for (size_t count : {size_t(0), size_t(1), size_t(7), size_t(130)}) {
        std::fill(buffer, buffer + sizeof buffer, 0x11);
        EXPECT_EQ(fill(buffer + 2, 0x1A5, count), buffer + 2);
        for (size_t i = 0; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], i >= 2 && i < 2 + count ? 0xA5 : 0x11) << "count " << count << " byte " << i;
    }
}

TEST(CString, MemcmpComparesBytesAsUnsigned)
{
    auto compare = Opaque(&memcmp);
    EXPECT_EQ(compare("abc", "abd", 2), 0);
    EXPECT_EQ(compare("abc", "xyz", 0), 0);
    EXPECT_LT(compare("abc", "abd", 3), 0);
    EXPECT_GT(compare("abd", "abc", 3), 0);
    // 0x80 is above 0x7F, whatever the sign of char.
    EXPECT_GT(compare("\x80", "\x7f", 1), 0);
    EXPECT_LT(compare("a\x01", "a\xff", 2), 0);
    // A difference after a zero byte counts: memcmp does not stop there.
    EXPECT_LT(compare("a\0b", "a\0c", 3), 0);
}

TEST(CString, StrlenCountsUpToTheTerminator)
{
    auto length = Opaque(&strlen);
    EXPECT_EQ(length(""), 0u);
    EXPECT_EQ(length("a"), 1u);
    EXPECT_EQ(length("\xe4\xb8\xad\xe6\x96\x87"), 6u);
    EXPECT_EQ(length("ab\0cd"), 2u);
    char longText[5000];
    std::fill(longText, longText + sizeof longText - 1, 'x');
    longText[sizeof longText - 1] = '\0';
    EXPECT_EQ(length(longText), sizeof longText - 1);
}

TEST(CString, StrcmpOrdersAsUnsignedAndByLength)
{
    auto compare = Opaque(&strcmp);
    EXPECT_EQ(compare("", ""), 0);
    EXPECT_EQ(compare("C:\\a", "C:\\a"), 0);
    EXPECT_LT(compare("abc", "abd"), 0);
    EXPECT_GT(compare("abd", "abc"), 0);
    EXPECT_LT(compare("ab", "abc"), 0);
    EXPECT_GT(compare("abc", "ab"), 0);
    EXPECT_GT(compare("\xc4", "a"), 0);
    EXPECT_LT(compare("a", "\xc4"), 0);
}

TEST(CString, StrchrFindsTheFirstAndTheTerminator)
{
    // A const char* argument picks C++'s overload; the C function is the one
    // taking and returning a char*.
    char* (*find)(const char*, int) = Opaque(static_cast<char* (*)(const char*, int)>(&strchr));
    EXPECT_TRUE(InThisProgram(reinterpret_cast<const void*>(find)));
    const char text[] = "a:b:c";
    EXPECT_EQ(find(text, ':'), text + 1);
    EXPECT_EQ(find(text, 'c'), text + 4);
    EXPECT_EQ(find(text, 'x'), nullptr);
    EXPECT_EQ(find(text, '\0'), text + 5);
    EXPECT_EQ(find(text, 'b' + 256), text + 2);
    const char high[] = "x\xe9y";
    EXPECT_EQ(find(high, 0xE9), high + 1);
    EXPECT_EQ(find("", 'a'), nullptr);
}

TEST(CString, StrpbrkFindsTheFirstOfTheSet)
{
    char* (*find)(const char*, const char*) =
        Opaque(static_cast<char* (*)(const char*, const char*)>(&strpbrk));
    const char name[] = "file?name*";
    EXPECT_EQ(find(name, "*?"), name + 4);
    EXPECT_EQ(find(name, "<>|"), nullptr);
    EXPECT_EQ(find(name, ""), nullptr);
    EXPECT_EQ(find("", "?"), nullptr);
    const char high[] = "ab\xe9";
    EXPECT_EQ(find(high, "\xe9"), high + 2);
}

}  // namespace
