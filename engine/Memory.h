// Allocation without the C++ runtime's exceptions: the shipped program
// links no C++ library, so an allocation that fails gives null, which the
// caller checks. Objects and arrays are made with new (NoThrow) and freed
// with delete / delete[]; buffers with AllocateBytes / FreeBytes.
#pragma once

#include <cstddef>

struct NoThrowTag {
    explicit constexpr NoThrowTag() = default;
};
constexpr NoThrowTag NoThrow{};

void* operator new(size_t bytes, NoThrowTag) noexcept;
void* operator new[](size_t bytes, NoThrowTag) noexcept;
// Called only when a constructor throws, which none of the program's does.
void operator delete(void* block, NoThrowTag) noexcept;
void operator delete[](void* block, NoThrowTag) noexcept;

// Null when there is not enough memory; FreeBytes takes null.
void* AllocateBytes(size_t bytes) noexcept;
void FreeBytes(void* block) noexcept;

// Where set (by a test), an allocation it answers false to fails as one
// does when memory runs out.
extern bool (*AllocationAllowed)(size_t bytes);

// In the test programs, where set: AllocateBytes takes its blocks from it
// and FreeBytes gives them back, so that a test's heap can see a write past
// the end of a block.
struct BlockSource {
    void* (*allocate)(size_t bytes);
    void (*release)(void* block);
};
extern const BlockSource* TestBlockSource;

// The one owner of an object or an array made with new (NoThrow); the
// subset of std::unique_ptr the program uses.
template <class T>
class UniquePtr {
public:
    explicit UniquePtr(T* object = nullptr) noexcept : object_(object) {}
    ~UniquePtr() { delete object_; }
    UniquePtr(const UniquePtr&) = delete;
    UniquePtr& operator=(const UniquePtr&) = delete;

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    T& operator*() const noexcept { return *object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    void reset(T* object = nullptr) noexcept
    {
        delete object_;
        object_ = object;
    }

private:
    T* object_;
};

template <class T>
class UniquePtr<T[]> {
public:
    explicit UniquePtr(T* array = nullptr) noexcept : array_(array) {}
    ~UniquePtr() { delete[] array_; }
    UniquePtr(const UniquePtr&) = delete;
    UniquePtr& operator=(const UniquePtr&) = delete;
    UniquePtr(UniquePtr&& other) noexcept : array_(other.release()) {}
    UniquePtr& operator=(UniquePtr&& other) noexcept
    {
        reset(other.release());
        return *this;
    }

    T* get() const noexcept { return array_; }
    T& operator[](size_t i) const noexcept { return array_[i]; }
    explicit operator bool() const noexcept { return array_ != nullptr; }
    void reset(T* array = nullptr) noexcept
    {
        delete[] array_;
        array_ = array;
    }
    T* release() noexcept
    {
        T* array = array_;
        array_ = nullptr;
        return array;
    }

private:
    T* array_;
};
