#pragma once
// What the settings store needs of the main connection.
#include <QByteArray>

namespace quvo {

class ServerIniLink {
public:
    virtual ~ServerIniLink() = default;
    virtual bool isConnectionUp() const = 0;
    virtual void sendFrame(const QByteArray& wireBytes) = 0;
};

} // namespace quvo
