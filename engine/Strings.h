// The program's own 8-bit and wide strings: the subset of std::string and
// std::wstring that it uses, under the same names, without the C++ library
// (which the shipped program does not link). A string whose allocation
// fails becomes empty and failed(): it then names no file, stays empty
// through further changes until clear() or an assignment, and the caller
// checks failed() where a pass must end or a buffer be written.
#pragma once

#include "Memory.h"

#include <cstddef>

template <class T>
class BasicString {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    BasicString() noexcept {}
    BasicString(const T* text) { append(text, Length(text)); }
    BasicString(const T* text, size_t count) { append(text, count); }
    BasicString(size_t count, T c) { resize(count, c); }
    BasicString(const BasicString& other) { append(other); }
    BasicString(BasicString&& other) noexcept { Take(other); }
    ~BasicString() { FreeBytes(data_); }

    BasicString& operator=(const BasicString& other)
    {
        if (this != &other) {
            clear();
            append(other);
        }
        return *this;
    }
    BasicString& operator=(BasicString&& other) noexcept
    {
        if (this != &other) {
            FreeBytes(data_);
            Take(other);
        }
        return *this;
    }
    BasicString& operator=(const T* text)
    {
        // Made apart first: the text may lie inside this string.
        BasicString copy(text);
        return *this = static_cast<BasicString&&>(copy);
    }

    size_t size() const noexcept { return size_; }
    size_t length() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    bool failed() const noexcept { return failed_; }
    const T* c_str() const noexcept { return data_ ? data_ : Empty(); }
    const T* data() const noexcept { return c_str(); }
    T* data() noexcept { return data_ ? data_ : Empty(); }
    T& operator[](size_t i) noexcept { return data()[i]; }
    const T& operator[](size_t i) const noexcept { return c_str()[i]; }
    T& back() noexcept { return data_[size_ - 1]; }
    const T& back() const noexcept { return data_[size_ - 1]; }

    void clear() noexcept
    {
        size_ = 0;
        if (data_)
            data_[0] = T();
        failed_ = false;
    }

    void reserve(size_t count) { Room(count, nullptr, 0); }

    void resize(size_t count, T c = T())
    {
        if (count > MaxLength) {
            Fail();
            return;
        }
        if (count > size_) {
            if (Room(count, nullptr, 0) == NoRoom)
                return;
            for (T *p = data_ + size_, *end = data_ + count; p != end; ++p)
                *p = c;
        }
        if (data_) {
            size_ = count;
            data_[count] = T();
        }
    }

    BasicString& append(const T* text, size_t count)
    {
        if (failed_)
            return *this;
        if (count > MaxLength - size_) {
            Fail();
            return *this;
        }
        // Where the string moves, Room copies the text (which may lie inside it).
        const int room = Room(size_ + count, text, count);
        if (room == NoRoom)
            return *this;
        if (room == RoomInPlace && count)
            Copy(data_ + size_, text, count);
        size_ += count;
        data_[size_] = T();
        return *this;
    }
    BasicString& append(const BasicString& other)
    {
        if (other.failed_) {
            Fail();
            return *this;
        }
        return append(other.c_str(), other.size_);
    }
    BasicString& operator+=(const BasicString& other) { return append(other); }
    BasicString& operator+=(const T* text) { return append(text, Length(text)); }
    BasicString& operator+=(T c) { return append(&c, 1); }
    void push_back(T c) { append(&c, 1); }
    void pop_back() noexcept
    {
        if (size_ != 0)
            data_[--size_] = T();
    }

    BasicString& insert(size_t pos, const T* text)
    {
        if (pos > size_)
            pos = size_;
        BasicString joined(c_str(), pos);
        joined.append(text, Length(text));
        joined.append(c_str() + pos, size_ - pos);
        return *this = static_cast<BasicString&&>(joined);
    }

    BasicString substr(size_t pos, size_t count = npos) const
    {
        if (failed_) {
            BasicString none;
            none.Fail();
            return none;
        }
        if (pos > size_)
            pos = size_;
        if (count > size_ - pos)
            count = size_ - pos;
        return BasicString(c_str() + pos, count);
    }

    size_t find(T c, size_t pos = 0) const noexcept
    {
        for (size_t i = pos; i < size_; ++i) {
            if (data_[i] == c)
                return i;
        }
        return npos;
    }
    size_t find(const BasicString& text, size_t pos = 0) const noexcept
    {
        for (size_t i = pos; text.size_ <= size_ && i <= size_ - text.size_; ++i) {
            size_t same = 0;
            while (same < text.size_ && data_[i + same] == text.data_[same])
                ++same;
            if (same == text.size_)
                return i;
        }
        return npos;
    }
    size_t find_first_of(const T* set, size_t pos = 0) const noexcept
    {
        for (size_t i = pos; i < size_; ++i) {
            if (In(set, data_[i]))
                return i;
        }
        return npos;
    }
    size_t find_first_not_of(const T* set, size_t pos = 0) const noexcept
    {
        for (size_t i = pos; i < size_; ++i) {
            if (!In(set, data_[i]))
                return i;
        }
        return npos;
    }
    size_t find_last_of(T c) const noexcept
    {
        for (size_t i = size_; i-- > 0;) {
            if (data_[i] == c)
                return i;
        }
        return npos;
    }
    size_t find_last_not_of(const T* set) const noexcept
    {
        for (size_t i = size_; i-- > 0;) {
            if (!In(set, data_[i]))
                return i;
        }
        return npos;
    }

    bool Equals(const T* text, size_t count) const noexcept
    {
        if (count != size_)
            return false;
        for (size_t i = 0; i < count; ++i) {
            if (data_[i] != text[i])
                return false;
        }
        return true;
    }

    static size_t Length(const T* text) noexcept
    {
        size_t n = 0;
        if (text) {
            while (text[n] != T())
                ++n;
        }
        return n;
    }

private:
    static T* Empty() noexcept
    {
        static T none[1];
        none[0] = T();
        return none;
    }
    static void Copy(T* to, const T* from, size_t count) noexcept
    {
        for (size_t i = 0; i < count; ++i)
            to[i] = from[i];
    }
    static bool In(const T* set, T c) noexcept
    {
        for (; *set != T(); ++set) {
            if (*set == c)
                return true;
        }
        return false;
    }

    // No object is larger than half the address space.
    static constexpr size_t MaxLength = npos / 2 / sizeof(T) - 1;

    enum { NoRoom, RoomInPlace, RoomMoved };

    // Room for count characters and the terminator. Where the string moves,
    // the text to append is copied behind the old characters before the old
    // block goes.
    int Room(size_t count, const T* text, size_t textCount)
    {
        if (failed_)
            return NoRoom;
        if (data_ && count < capacity_)
            return RoomInPlace;
        if (count > MaxLength) {
            Fail();
            return NoRoom;
        }
        size_t wanted = capacity_ ? capacity_ : 16;
        while (wanted <= count)
            wanted = wanted > MaxLength / 2 ? MaxLength + 1 : wanted * 2;
        T* grown = static_cast<T*>(AllocateBytes(wanted * sizeof(T)));
        if (!grown) {
            Fail();
            return NoRoom;
        }
        if (data_)
            Copy(grown, data_, size_);
        grown[size_] = T();
        if (text)
            Copy(grown + size_, text, textCount);
        FreeBytes(data_);
        data_ = grown;
        capacity_ = wanted;
        return RoomMoved;
    }
    void Fail() noexcept
    {
        FreeBytes(data_);
        data_ = nullptr;
        size_ = 0;
        capacity_ = 0;
        failed_ = true;
    }
    void Take(BasicString& other) noexcept
    {
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        failed_ = other.failed_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.capacity_ = 0;
        other.failed_ = false;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool failed_ = false;
};

template <class T>
bool operator==(const BasicString<T>& a, const BasicString<T>& b) noexcept
{
    return !a.failed() && !b.failed() && a.Equals(b.c_str(), b.size());
}
template <class T>
bool operator==(const BasicString<T>& a, const T* b) noexcept
{
    return !a.failed() && a.Equals(b, BasicString<T>::Length(b));
}
template <class T>
bool operator!=(const BasicString<T>& a, const BasicString<T>& b) noexcept
{
    return !(a == b);
}
template <class T>
bool operator!=(const BasicString<T>& a, const T* b) noexcept
{
    return !(a == b);
}

template <class T>
BasicString<T> operator+(const BasicString<T>& a, const BasicString<T>& b)
{
    BasicString<T> joined;
    joined.reserve(a.size() + b.size());
    joined.append(a);
    joined.append(b);
    return joined;
}
template <class T>
BasicString<T> operator+(const BasicString<T>& a, const T* b)
{
    BasicString<T> joined(a);
    joined += b;
    return joined;
}
template <class T>
BasicString<T> operator+(const T* a, const BasicString<T>& b)
{
    BasicString<T> joined(a);
    joined.append(b);
    return joined;
}
template <class T>
BasicString<T> operator+(const BasicString<T>& a, T b)
{
    BasicString<T> joined(a);
    joined += b;
    return joined;
}

using AString = BasicString<char>;
using WString = BasicString<wchar_t>;

// The decimal digits of value, appended to text.
inline void AppendDecimal(WString& text, unsigned long long value)
{
    wchar_t digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        text += digits[--count];
}
