// Every block the engine allocates in these tests carries a guard behind
// its end, checked when the block is freed: a string or buffer written one
// character too far fails the test that did it. The C++ library's heap
// still serves the blocks, so those that a test frees with delete stay
// sound.
#include "Memory.h"
#include "Strings.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <new>
#include <unordered_map>

namespace {

constexpr size_t GuardBytes = 16;
constexpr unsigned char GuardByte = 0xFD;

CRITICAL_SECTION lock;
// Block to its size: a block freed by delete leaves a stale entry, which
// the next block at that address replaces.
std::unordered_map<void*, size_t>* live = nullptr;

void* AllocateGuarded(size_t bytes)
{
    auto* block = static_cast<unsigned char*>(::operator new(bytes + GuardBytes, std::nothrow));
    if (!block)
        return nullptr;
    std::memset(block + bytes, GuardByte, GuardBytes);
    EnterCriticalSection(&lock);
    (*live)[block] = bytes;
    LeaveCriticalSection(&lock);
    return block;
}

void ReleaseGuarded(void* block)
{
    if (!block)
        return;
    EnterCriticalSection(&lock);
    const auto found = live->find(block);
    const bool guarded = found != live->end();
    const size_t bytes = guarded ? found->second : 0;
    if (guarded)
        live->erase(found);
    LeaveCriticalSection(&lock);
    if (guarded) {
        const auto* end = static_cast<const unsigned char*>(block) + bytes;
        for (size_t i = 0; i < GuardBytes; ++i) {
            if (end[i] != GuardByte) {
                ADD_FAILURE() << "written past the end of a block of " << bytes << " bytes, at byte " << i;
                break;
            }
        }
    }
    ::operator delete(block);
}

const BlockSource Guarded = {AllocateGuarded, ReleaseGuarded};

class GuardedHeap : public ::testing::Environment {
public:
    void SetUp() override
    {
        InitializeCriticalSection(&lock);
        live = new std::unordered_map<void*, size_t>;
        TestBlockSource = &Guarded;
    }
    void TearDown() override
    {
        TestBlockSource = nullptr;
        // Blocks still held by objects that outlive the tests are the
        // library's own and are freed by it.
        delete live;
        live = nullptr;
        DeleteCriticalSection(&lock);
    }
};

[[maybe_unused]] const auto* const installed = ::testing::AddGlobalTestEnvironment(new GuardedHeap);

}  // namespace

// Each length around each growth of the block, reached by every way a
// string grows.
TEST(Strings, EveryLengthAroundEachGrowthStaysInsideItsBlock)
{
    ASSERT_EQ(TestBlockSource, &Guarded);
    const char text[] = "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz";
    for (size_t length = 0; length < sizeof text - 1; ++length) {
        SCOPED_TRACE(length);
        AString appended;
        WString wide;
        for (size_t i = 0; i < length; ++i) {
            appended += text[i];
            wide += static_cast<wchar_t>(text[i]);
        }
        EXPECT_EQ(appended.size(), length);
        EXPECT_EQ(wide.size(), length);
        AString made(text, length);
        EXPECT_EQ(std::strlen(made.c_str()), length);
        AString resized;
        resized.resize(length, 'r');
        EXPECT_EQ(std::strlen(resized.c_str()), length);
        AString joined = AString(text, length / 2);
        joined.append(text, length - length / 2);
        EXPECT_EQ(std::strlen(joined.c_str()), length);
    }
}
