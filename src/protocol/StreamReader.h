#pragma once
// The one reader of a connection's byte stream: the bytes of each read go
// in, tokens come out in stream order, grouped into the units a dispatcher
// takes at once. No sockets and no clock here: the caller says when a short
// wait for the rest of an error text has passed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quvo::protocol {

enum class TokenKind : std::uint8_t {
    Frame,      // "¤TAG:" ... ":TAG¤", complete; only its own closing marker ends it
    ErrorText,  // from "ERROR:" to where the next frame or block opens
    BlockStart, // "#DATASTART#" (empty span: the markers are not handed out)
    BlockEnd,   // "#DATAEND#"
    Stray,      // anything else, broken frames among it
};

struct Token {
    TokenKind kind = TokenKind::Stray;
    std::uint8_t tagLength = 0; // Frame: the tag follows the opening ¤
    std::uint32_t begin = 0;    // span in the unit's bytes
    std::uint32_t end = 0;
};

// One frame, error text or stray text outside blocks, or one whole block
// (BlockStart, its tokens, BlockEnd).
struct Unit {
    std::string bytes;
    std::vector<Token> tokens;

    std::string_view text(const Token& t) const { return std::string_view(bytes).substr(t.begin, t.end - t.begin); }
    std::string_view tag(const Token& t) const { return std::string_view(bytes).substr(t.begin + 1, t.tagLength); }
    // Through the ':' that begins the closing marker, as the frame readers take it.
    std::string_view frameCopy(const Token& t) const
    {
        return std::string_view(bytes).substr(t.begin, t.end - t.begin - t.tagLength - 1);
    }
    bool isBlock() const { return !tokens.empty() && tokens.front().kind == TokenKind::BlockStart; }
    bool isStray() const { return tokens.size() == 1 && tokens.front().kind == TokenKind::Stray; }
};

class StreamReader {
public:
    static constexpr std::size_t kDefaultLimit = 16u * 1024u * 1024u;
    // Longest tag taken for a frame opening; a longer run of capitals is stray text.
    static constexpr std::size_t kMaxTagLength = 64;

    explicit StreamReader(std::size_t limit = kDefaultLimit);

    // A block that begins with this opening is not read here: feed stops
    // behind the opening and leaves the rest of the block to the caller
    // until endRawBlock().
    void setRawBlockOpening(std::string opening) { m_rawOpening = std::move(opening); }

    // Takes the bytes of one read, appends the units complete now, and
    // answers how many bytes it took: all, unless a raw block began.
    // A frame, error text or block larger than the limit is dropped whole.
    std::size_t feed(std::string_view bytes, std::vector<Unit>& out);

    // Outside blocks an error text has no end marker: it ends where a frame
    // or block opens, or when the caller's short wait has passed.
    bool errorOpen() const;
    void waitElapsed(std::vector<Unit>& out);

    bool inBlock() const { return m_inBlock; }
    // A frame or block has begun and not yet ended.
    bool unitOpen() const { return m_inBlock || m_state == State::Frame; }
    bool inRawBlock() const { return m_raw; }
    void endRawBlock();

    // True once after something had to be dropped because of the limit.
    bool takeOverflow();
    std::size_t held() const { return m_buf.size(); }
    void clear();

private:
    enum class State : std::uint8_t { Text, Frame, Error };
    enum class Match : std::uint8_t { No, Yes, NeedMore };

    Match openingAt(std::size_t pos, std::size_t& tagLength) const;
    Match markerAt(std::size_t pos, std::string_view marker) const;
    void scan(std::vector<Unit>& out);
    bool enterBlock(std::size_t markerPos);
    void leaveBlock(std::size_t markerPos, std::vector<Unit>& out);
    void beginFrame(std::size_t pos, std::size_t tagLength);
    void endText(std::size_t end, std::vector<Unit>& out);
    void brokenFrame(std::size_t end, std::vector<Unit>& out);
    void put(TokenKind kind, std::size_t begin, std::size_t end, std::vector<Unit>& out, std::size_t tagLength = 0);
    void bound();
    void compact();

    std::string m_buf;            // bytes not yet handed out
    std::size_t m_scan = 0;       // next byte to look at
    std::size_t m_start = 0;      // where the token being read begins
    State m_state = State::Text;
    std::size_t m_tagLength = 0;  // of the open frame
    std::string m_closing;        // ":TAG¤" of the open frame
    bool m_inBlock = false;
    std::size_t m_blockStart = 0; // first byte of the block's content
    std::vector<Token> m_blockTokens; // from BlockStart on; spans relative to m_blockStart
    bool m_discard = false;       // the frame, error text or block being read is past the limit
    bool m_raw = false;
    bool m_overflow = false;
    std::size_t m_limit;
    std::string m_rawOpening;
};

} // namespace quvo::protocol
