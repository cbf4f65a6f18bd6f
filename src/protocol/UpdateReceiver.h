#pragma once
// What arrives on the update connection: messages read by the stream reader,
// and the program file, which travels as the raw bytes of one block
// "#DATASTART#¤RETNEWCLIENT:" ... ":RETNEWCLIENT¤#DATAEND#". No sockets here.
#include "protocol/StreamReader.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quvo::protocol {

class UpdateReceiver {
public:
    enum class EventKind {
        Message,    // a frame or error text, or a text block (see Unit)
        FileBegin,  // a RETNEWCLIENT block starts
        FileData,   // the next bytes of the file
        FileEnd,    // the file is complete
        Overflow,   // the file grew past its bound; everything after it is dropped
    };
    struct Event {
        EventKind kind;
        Unit message;       // Message
        std::string bytes;  // FileData
    };

    static constexpr std::uint64_t kDefaultFileLimit = 256ull * 1024 * 1024;

    explicit UpdateReceiver(std::uint64_t fileLimit = kDefaultFileLimit,
                            std::size_t textLimit = StreamReader::kDefaultLimit);

    std::vector<Event> feed(std::string_view chunk);
    // An error text outside blocks may go on in the next read; see StreamReader.
    bool errorOpen() const { return m_mode == Mode::Reading && m_reader.errorOpen(); }
    std::vector<Event> waitElapsed();
    void reset();

    // A block has begun and its end has not arrived.
    bool collecting() const { return m_mode == Mode::File || m_mode == Mode::Discard || m_reader.inBlock(); }
    std::uint64_t fileBytes() const { return m_fileBytes; }
    void setFileLimit(std::uint64_t bytes) { m_fileLimit = bytes; }
    std::uint64_t fileLimit() const { return m_fileLimit; }
    std::size_t held() const { return m_reader.held() + m_held.size(); }

private:
    enum class Mode { Reading, File, Discard };
    void messages(std::vector<Unit>& units, std::vector<Event>& out);
    void feedFile(std::string_view data, std::vector<Event>& out);
    bool overLimit(std::uint64_t bytes, std::vector<Event>& out);

    StreamReader m_reader;
    Mode m_mode = Mode::Reading;
    std::string m_held;          // File: bytes that may begin the closing markers
    std::size_t m_searchFrom = 0;
    std::uint64_t m_fileBytes = 0;
    std::uint64_t m_fileLimit;
};

} // namespace quvo::protocol
