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
    // Each text is one whole frame, the content of one block (its envelope
    // markers removed), or the text between them (error answers arrive so);
    // text between frames ends with the read unless a frame opens first.
    // A frame or block larger than the limit is dropped whole.
    std::vector<std::string> feed(std::string_view bytes);

    // True once after held data had to be dropped because of the limit.
    bool takeOverflow();
    std::size_t held() const;
    void clear();

private:
    enum class Opening { No, Yes, NeedMore };
    Opening classifyOpening(std::size_t pos, std::size_t& tagEnd) const;
    void scan(std::vector<std::string>& out);
    bool scanOutside(std::vector<std::string>& out);
    bool scanFrame(std::vector<std::string>& out);
    bool scanBlock(std::vector<std::string>& out);
    void emitStray(std::vector<std::string>& out, std::size_t end);
    void emitUnit(std::vector<std::string>& out, std::size_t end, bool skipBlank);
    void enterFrame(std::size_t tagBegin, std::size_t tagEnd);
    void boundHeld();

    // implementation state; see ReceiveBuffer.cpp
    std::string m_pending;
    bool m_inBlock = false;
    bool m_overflow = false;
    std::size_t m_limit;
    std::size_t m_scanFrom = 0;
    bool m_inFrame = false;
    bool m_discarding = false;   // the unit being read grew past the limit
    std::size_t m_start = 0;     // where the unit being read begins in m_pending
    std::string m_closing;       // ":TAG¤" of the open frame
};

} // namespace quvo::protocol
