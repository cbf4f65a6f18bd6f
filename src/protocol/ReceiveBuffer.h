#pragma once
// The receive path of a connection, without sockets: the bytes of each read
// go in, the texts for the dispatcher come out, in order.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quvo::protocol {

class ReceiveBuffer {
public:
    static constexpr std::size_t kDefaultLimit = 16u * 1024u * 1024u;
    explicit ReceiveBuffer(std::size_t limit = kDefaultLimit);

    // Takes the bytes of one read; returns the texts that are complete now.
    // A frame not yet closed, or a block whose "#DATAEND#" has not arrived,
    // is kept for the next reads. Text outside frames is passed on for the
    // dispatcher to drop, as it always was.
    std::vector<std::string> feed(std::string_view bytes);

    // True once after held data had to be dropped because of the limit.
    bool takeOverflow();
    std::size_t held() const;
    void clear();

private:
    // implementation state; see ReceiveBuffer.cpp
    std::string m_pending;
    bool m_inBlock = false;
    bool m_overflow = false;
    std::size_t m_limit;
    std::size_t m_scanFrom = 0;
};

} // namespace quvo::protocol
