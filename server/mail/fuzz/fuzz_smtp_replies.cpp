// Feeds arbitrary server output, cut at arbitrary points, to the reply reader, and each whole
// reply to the SMTP and POP3 reply decoders and the base64 prompt decoder.
#include "mail/Encoders.h"
#include "mail/ReplyReader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    zs::mail::ReplyReader reader;
    const std::size_t step = size > 0 ? 1 + data[0] % 17 : 1;
    for (std::size_t i = 0; i < size; i += step) {
        reader.feed(bytes.substr(i, step));
        while (auto reply = reader.next()) {
            (void)zs::mail::decodeSmtpReply(*reply);
            (void)zs::mail::decodePop3Reply(*reply);
            (void)zs::mail::DecodeBase64String(reply->size() > 4 ? reply->substr(4) : *reply);
        }
    }
    return 0;
}
