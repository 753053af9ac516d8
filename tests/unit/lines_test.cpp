#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "util/lines.h"

namespace {

// Every line of text read with a line buffer of capacity cap, with a "+"
// after each line that was cut.
std::vector<std::string> read_all(const std::string &text, size_t cap) {
    char path[] = "/tmp/zv_lines_XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
    close(fd);
    static line_input in;
    int handle = plat_open_read(path);
    lines_from_handle(&in, handle);
    std::vector<std::string> out;
    std::vector<char> line(cap);
    int cut;
    while (next_line(&in, line.data(), cap, &cut))
        out.push_back(line.data() + std::string(cut ? "+" : ""));
    plat_close(handle);
    unlink(path);
    return out;
}

} // namespace

TEST(NextLine, CutsLongLinesAndDropsTheirRest) {
    struct line_case {
        std::string text;
        size_t cap;
        std::vector<std::string> lines;
    };
    const std::string big(20000, 'b'); // longer than the reader's own buffer
    const line_case cases[] = {
        {"", 8, {}},
        {"\n", 8, {""}},
        {"a\nb", 8, {"a", "b"}},
        {"a\r\n\nb\n", 8, {"a\r", "", "b"}},
        {"1234567\n", 8, {"1234567"}},
        {"12345678\nnext\n", 8, {"1234567+", "next"}},
        {"123456789 * * * * * phantom\nx", 8, {"1234567+", "x"}},
        {"a" + big + "\nz\n", 8, {"abbbbbb+", "z"}},
        {big, 4, {"bbb+"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 30));
        EXPECT_EQ(read_all(c.text, c.cap), c.lines);
    }
}
