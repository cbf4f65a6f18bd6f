#include "common/Codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace quvo {

namespace {

// One converter pair per thread: the ICU-backed converters are costly to open
// and the code page is stateless, so resetting between calls is enough.
QStringEncoder& encoder()
{
    thread_local QStringEncoder enc = [] {
        QStringEncoder e(kWireCodePage);
        // Without ICU the named code page is unknown; Latin-1 agrees with it on
        // every byte the protocol itself uses (the frame character 0xA4 included).
        return e.isValid() ? std::move(e) : QStringEncoder(QStringConverter::Latin1);
    }();
    enc.resetState();
    return enc;
}

QStringDecoder& decoder()
{
    thread_local QStringDecoder dec = [] {
        QStringDecoder d(kWireCodePage);
        return d.isValid() ? std::move(d) : QStringDecoder(QStringConverter::Latin1);
    }();
    dec.resetState();
    return dec;
}

} // namespace

QByteArray toWire(const QString& text)
{
    return encoder().encode(text);
}

std::string toWireString(const QString& text)
{
    return toWire(text).toStdString();
}

QString fromWire(std::string_view bytes)
{
    return decoder().decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

QString fromWire(const QByteArray& bytes)
{
    return decoder().decode(bytes);
}

} // namespace quvo
