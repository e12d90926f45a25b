#include "support/memstream.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(memstream, grows_by_256_below_512_then_by_half)
{
    mw::memstream s{std::ios::in | std::ios::out};
    EXPECT_EQ(s.rdbuf()->capacity(), 0u);
    s.put('x');
    EXPECT_EQ(s.rdbuf()->capacity(), 256u);
    s << std::string(299, 'y');
    EXPECT_EQ(s.rdbuf()->capacity(), 512u);
    EXPECT_EQ(s.rdbuf()->size(), 300u);
    s << std::string(300, 'z');
    EXPECT_EQ(s.rdbuf()->capacity(), 768u);
    EXPECT_TRUE(s.good());
}

TEST(memstream, reads_back_what_was_written_across_growth)
{
    mw::memstream s;
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += static_cast<char>('a' + i % 26);
    s.write(text.data(), static_cast<std::streamsize>(text.size()));
    std::string back(text.size(), '\0');
    s.read(back.data(), static_cast<std::streamsize>(back.size()));
    EXPECT_EQ(back, text);
    EXPECT_EQ(s.get(), std::char_traits<char>::eof());
}

TEST(memstream, seeks_only_within_the_written_bytes)
{
    mw::memstream s;
    s << "hello world";
    struct seek_case {
        std::streamoff off;
        std::ios::seekdir dir;
        std::ios::openmode which;
        std::streamoff expected; // -1: refused
    };
    const seek_case cases[] = {
        {0, std::ios::beg, std::ios::in, 0},
        {11, std::ios::beg, std::ios::in, 11},
        {12, std::ios::beg, std::ios::in, -1},
        {-1, std::ios::beg, std::ios::out, -1},
        {-5, std::ios::end, std::ios::in | std::ios::out, 6},
        {1, std::ios::end, std::ios::out, -1},
        {0, std::ios::cur, std::ios::in | std::ios::out, -1},
    };
    for (const auto& c : cases) {
        auto got = s.rdbuf()->pubseekoff(c.off, c.dir, c.which);
        EXPECT_EQ(std::streamoff(got), c.expected) << c.off << " " << c.dir << " " << c.which;
    }
    s.seekg(6);
    std::string word;
    s >> word;
    EXPECT_EQ(word, "world");
    s.clear();
    s.seekp(0);
    s << "J";
    s.seekg(0);
    std::getline(s, word);
    EXPECT_EQ(word, "Jello world");
}

TEST(memstream, append_mode_writes_at_the_end_only)
{
    mw::memstream s{std::ios::in | std::ios::out | std::ios::app};
    s << "abc";
    EXPECT_EQ(std::streamoff(s.rdbuf()->pubseekoff(0, std::ios::beg, std::ios::out)), -1);
    EXPECT_EQ(std::streamoff(s.rdbuf()->pubseekoff(0, std::ios::end, std::ios::out)), 3);
    s.seekg(1);
    s << "de";
    std::string all;
    s.seekg(0);
    s >> all;
    EXPECT_EQ(all, "abcde");
}

TEST(memstream, append_without_out_is_dropped_and_a_read_only_buffer_refuses_writes)
{
    mw::membuf buf{std::ios::in | std::ios::app};
    EXPECT_EQ(buf.mode(), std::ios::in);
    EXPECT_EQ(buf.sputc('x'), std::char_traits<char>::eof());
    EXPECT_EQ(buf.capacity(), 0u);
}

TEST(memstream, putback_writes_only_into_a_writable_buffer)
{
    const char bytes[] = "ab";
    mw::imemstream ro{bytes, 2};
    EXPECT_EQ(ro.get(), 'a');
    EXPECT_EQ(ro.rdbuf()->sputbackc('z'), std::char_traits<char>::eof());
    EXPECT_EQ(ro.rdbuf()->sputbackc('a'), 'a');
    EXPECT_EQ(bytes[0], 'a');

    mw::memstream rw;
    rw << "ab";
    EXPECT_EQ(rw.get(), 'a');
    EXPECT_EQ(rw.rdbuf()->sputbackc('z'), 'z');
    EXPECT_EQ(rw.get(), 'z');
}

TEST(imemstream, reads_bytes_in_place)
{
    static const char bytes[] = "payload";
    mw::imemstream s{bytes, 7};
    EXPECT_EQ(s.rdbuf()->data(), bytes);
    std::string word;
    s >> word;
    EXPECT_EQ(word, "payload");
    s.clear();
    s.seekg(-3, std::ios::end);
    s >> word;
    EXPECT_EQ(word, "oad");
}

TEST(imemstream, an_empty_range_is_at_end_at_once)
{
    mw::imemstream s{nullptr, 0};
    EXPECT_EQ(s.get(), std::char_traits<char>::eof());
    EXPECT_TRUE(s.eof());
    s.clear();
    s.seekg(0);
    EXPECT_FALSE(s.fail());
}

} // namespace
