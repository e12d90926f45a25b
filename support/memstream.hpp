#pragma once
// In-memory byte streams: a stream buffer over one growable (or borrowed, read-only) array,
// with the semantics of the standard string buffer.

#include <cstddef>
#include <cstring>
#include <istream>
#include <limits>
#include <streambuf>

namespace mw {

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_membuf : public std::basic_streambuf<CharT, Traits> {
public:
    using char_type = CharT;
    using traits_type = Traits;
    using int_type = typename Traits::int_type;
    using pos_type = typename Traits::pos_type;
    using off_type = typename Traits::off_type;

    // An empty buffer that grows with every write past its end.
    explicit basic_membuf(std::ios_base::openmode mode = std::ios_base::in | std::ios_base::out)
        : mode_(normalised(mode))
    {
    }

    // A read-only buffer over bytes owned by the caller; they must outlive the buffer.
    basic_membuf(const char_type* data, std::size_t size)
        : mode_(std::ios_base::in), array_(const_cast<char_type*>(data)), capacity_(size), high_water_(size)
    {
        this->setg(array_, array_, array_ + size);
    }

    basic_membuf(const basic_membuf&) = delete;
    basic_membuf& operator=(const basic_membuf&) = delete;
    ~basic_membuf() override
    {
        if (owned_)
            delete[] array_;
    }

    // The bytes written so far (the high-water mark), in place.
    const char_type* data() const noexcept { return array_; }
    std::size_t size() const noexcept
    {
        update_high_water();
        return high_water_;
    }
    std::size_t capacity() const noexcept { return capacity_; }
    std::ios_base::openmode mode() const noexcept { return mode_; }

protected:
    int_type overflow(int_type c) override
    {
        if (!(mode_ & std::ios_base::out))
            return traits_type::eof();
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        update_high_water();
        if (mode_ & std::ios_base::app)
            set_put_offset(high_water_);
        if (this->pptr() == this->epptr() && !grow())
            return traits_type::eof();
        *this->pptr() = traits_type::to_char_type(c);
        this->pbump(1);
        update_high_water();
        if (mode_ & std::ios_base::in)
            this->setg(array_, this->gptr() ? this->gptr() : array_, array_ + high_water_);
        return c;
    }

    std::streamsize xsputn(const char_type* s, std::streamsize n) override
    {
        std::streamsize done = 0;
        while (done < n) {
            if (mode_ & std::ios_base::app) {
                update_high_water();
                set_put_offset(high_water_);
            }
            std::streamsize room = this->epptr() - this->pptr();
            if (room == 0) {
                if (traits_type::eq_int_type(overflow(traits_type::to_int_type(s[done])), traits_type::eof()))
                    break;
                ++done;
                continue;
            }
            std::streamsize m = std::min(room, n - done);
            traits_type::copy(this->pptr(), s + done, static_cast<std::size_t>(m));
            advance_put(m);
            done += m;
        }
        update_high_water();
        if ((mode_ & std::ios_base::in) && done > 0)
            this->setg(array_, this->gptr() ? this->gptr() : array_, array_ + high_water_);
        return done;
    }

    int_type pbackfail(int_type c) override
    {
        if (this->eback() == this->gptr())
            return traits_type::eof();
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            this->gbump(-1);
            return traits_type::not_eof(c);
        }
        if (traits_type::eq(traits_type::to_char_type(c), this->gptr()[-1])) {
            this->gbump(-1);
            return c;
        }
        if (!(mode_ & std::ios_base::out))
            return traits_type::eof();
        this->gbump(-1);
        *this->gptr() = traits_type::to_char_type(c);
        return c;
    }

    int_type underflow() override
    {
        if (this->gptr() && this->gptr() < this->egptr())
            return traits_type::to_int_type(*this->gptr());
        if (!(mode_ & std::ios_base::in) || !array_)
            return traits_type::eof();
        update_high_water();
        char_type* g = this->gptr() ? this->gptr() : array_;
        this->setg(array_, g, array_ + high_water_);
        if (this->gptr() < this->egptr())
            return traits_type::to_int_type(*this->gptr());
        return traits_type::eof();
    }

    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which = std::ios_base::in | std::ios_base::out) override
    {
        const pos_type fail = pos_type(off_type(-1));
        const bool in = (which & std::ios_base::in) != 0;
        const bool out = (which & std::ios_base::out) != 0;
        if ((!in && !out) || (in && !(mode_ & std::ios_base::in)) || (out && !(mode_ & std::ios_base::out)))
            return fail;
        if (in && out && dir == std::ios_base::cur)
            return fail;
        update_high_water();
        off_type base = 0;
        if (dir == std::ios_base::cur)
            base = in ? this->gptr() - this->eback() : this->pptr() - this->pbase();
        else if (dir == std::ios_base::end)
            base = static_cast<off_type>(high_water_);
        const off_type target = base + off;
        if (target < 0 || target > static_cast<off_type>(high_water_))
            return fail;
        if (target != 0 && !array_)
            return fail;
        if (out && (mode_ & std::ios_base::app) && target != static_cast<off_type>(high_water_))
            return fail;
        if (in)
            this->setg(array_, array_ + target, array_ + high_water_);
        if (out)
            set_put_offset(static_cast<std::size_t>(target));
        return pos_type(target);
    }

    pos_type seekpos(pos_type pos, std::ios_base::openmode which = std::ios_base::in | std::ios_base::out) override
    {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }

private:
    static std::ios_base::openmode normalised(std::ios_base::openmode mode)
    {
        if ((mode & std::ios_base::app) && !(mode & std::ios_base::out))
            mode &= ~std::ios_base::app;
        return mode;
    }

    void update_high_water() const noexcept
    {
        if (this->pptr() && static_cast<std::size_t>(this->pptr() - array_) > high_water_)
            high_water_ = static_cast<std::size_t>(this->pptr() - array_);
    }

    void set_put_offset(std::size_t offset)
    {
        this->setp(array_, array_ + capacity_);
        advance_put(static_cast<std::streamsize>(offset));
    }

    void advance_put(std::streamsize n)
    {
        while (n > 0) {
            const int step = static_cast<int>(std::min<std::streamsize>(n, std::numeric_limits<int>::max()));
            this->pbump(step);
            n -= step;
        }
    }

    // Enlarges the array: by 256 elements below 512, by half the size from there on.
    bool grow()
    {
        const std::size_t n = capacity_;
        const std::size_t limit = std::numeric_limits<std::ptrdiff_t>::max() / sizeof(char_type);
        std::size_t increment = n < 512 ? 256 : n / 2;
        while (increment > limit - n) {
            increment /= 2;
            if (increment < 2)
                return false;
        }
        char_type* bigger = nullptr;
        try {
            bigger = new char_type[n + increment];
        } catch (const std::bad_alloc&) {
            return false;
        }
        const std::size_t put = this->pptr() ? static_cast<std::size_t>(this->pptr() - array_) : 0;
        const std::size_t get = this->gptr() ? static_cast<std::size_t>(this->gptr() - array_) : 0;
        if (n)
            traits_type::copy(bigger, array_, n);
        if (owned_)
            delete[] array_;
        array_ = bigger;
        owned_ = true;
        capacity_ = n + increment;
        set_put_offset(put);
        if (mode_ & std::ios_base::in)
            this->setg(array_, array_ + get, array_ + high_water_);
        return true;
    }

    std::ios_base::openmode mode_;
    char_type* array_ = nullptr;
    std::size_t capacity_ = 0;
    mutable std::size_t high_water_ = 0;
    bool owned_ = false;
};

// Read-write stream over a growable in-memory array.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_memstream : public std::basic_iostream<CharT, Traits> {
public:
    explicit basic_memstream(std::ios_base::openmode mode = std::ios_base::in | std::ios_base::out)
        : std::basic_iostream<CharT, Traits>(nullptr), buf_(mode)
    {
        this->init(&buf_);
    }
    basic_membuf<CharT, Traits>* rdbuf() const { return const_cast<basic_membuf<CharT, Traits>*>(&buf_); }

private:
    basic_membuf<CharT, Traits> buf_;
};

// Read-only stream over bytes owned by the caller, read in place.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_imemstream : public std::basic_istream<CharT, Traits> {
public:
    basic_imemstream(const CharT* data, std::size_t size)
        : std::basic_istream<CharT, Traits>(nullptr), buf_(data, size)
    {
        this->init(&buf_);
    }
    basic_membuf<CharT, Traits>* rdbuf() const { return const_cast<basic_membuf<CharT, Traits>*>(&buf_); }

private:
    basic_membuf<CharT, Traits> buf_;
};

using membuf = basic_membuf<char>;
using memstream = basic_memstream<char>;
using imemstream = basic_imemstream<char>;

} // namespace mw
