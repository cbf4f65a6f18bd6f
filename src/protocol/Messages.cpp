#include "protocol/Messages.h"

#include "protocol/Frame.h"

#include <initializer_list>

namespace quvo::protocol {

namespace {

// Small helper so every builder reads like the frame it writes.
class FrameWriter {
public:
    FrameWriter& operator<<(std::string_view s) { m_out += s; return *this; }
    FrameWriter& operator<<(char c) { m_out += c; return *this; }
    FrameWriter& operator<<(int n) { m_out += std::to_string(n); return *this; }
    std::string take() { return std::move(m_out); }
private:
    std::string m_out;
};

// "¤TAG:" f1 ":" f2 ":" ... ":TAG¤"
std::string plainFrame(std::string_view tag, std::initializer_list<std::string_view> fields)
{
    FrameWriter w;
    w << kFrameChar << tag << ':';
    for (std::string_view f : fields)
        w << f << ':';
    w << tag << kFrameChar;
    return w.take();
}

} // namespace

std::string buildReconnect(std::string_view clientName, int programType)
{
    const std::string type = std::to_string(programType);
    return plainFrame("RECONNECT", {clientName, type});
}

std::string buildRegisterAuto(std::string_view name, int programType, std::string_view place, int colour)
{
    FrameWriter w;
    w << kFrameChar << "REGISTERUPATEMACHINE:" << name << ':' << programType << ':' << place << ':'
      << colour << ":::" << "REGISTERUPATEMACHINE" << kFrameChar;
    return w.take();
}

std::string buildRegisterWithLopnr(std::string_view name, int programType, std::string_view place, int colour, int lopnr)
{
    FrameWriter w;
    w << kFrameChar << "REGISTERUPATEMACHINE:" << name << ':' << programType << ':' << place << ':'
      << colour << "::" << lopnr << ':' << "REGISTERUPATEMACHINE" << kFrameChar;
    return w.take();
}

std::string buildPostCallablesRaw(std::string_view clientName, int programType, std::string_view pairs)
{
    FrameWriter w;
    w << kFrameChar << "POSTCALLABLESLIST:" << clientName << ':' << programType << ':' << pairs
      << "POSTCALLABLESLIST" << kFrameChar;
    return w.take();
}

std::string buildPostCallables(std::string_view clientName, int programType, const std::vector<int>& ids)
{
    FrameWriter pairs;
    int position = 0;
    for (int id : ids)
        pairs << id << ':' << position++ << ':';
    return buildPostCallablesRaw(clientName, programType, pairs.take());
}

std::string buildGetServerVersion(std::string_view clientName, int programType)
{
    const std::string type = std::to_string(programType);
    return plainFrame("GETSERVERVERSION", {clientName, type});
}

std::string buildGetCallList(std::string_view clientName)
{
    return plainFrame("GETCALLLIST", {clientName, "1"});
}

std::string buildGetKlinikNamn()
{
    // Fixed text; the server reads the "¤¤ADMIN¤¤" token as it stands.
    return plainFrame("GETKLINIKNAMN", {"\xA4\xA4" "ADMIN\xA4\xA4", "2"});
}

std::string buildSetIniText(std::string_view sectionPath, std::string_view key, std::string_view value)
{
    return plainFrame("SETINITEXT", {sectionPath, key, value});
}

std::string buildGetIniText(std::string_view sectionPath, std::string_view key)
{
    return plainFrame("GETINITEXT", {sectionPath, key});
}

std::string buildGetAllCallables(std::string_view clientName)
{
    return plainFrame("GETALLCALLABLES", {clientName});
}

std::string buildGetStationCallables(std::string_view clientName)
{
    return plainFrame("GETSTATIONCALLABLES", {clientName});
}

std::string buildGetNewClient(std::string_view programFileName, std::string_view clientName, int programType)
{
    const std::string type = std::to_string(programType);
    return plainFrame("GETNEWCLIENT", {programFileName, clientName, type});
}

} // namespace quvo::protocol
