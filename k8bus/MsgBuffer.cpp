// The message buffer: per-thread current message and the eight exported builders. Nothing here
// allocates per message; the context is made once per thread.
#include "Kor8Api.h"

#include "TraceLog.h"
#include "threadglob/ThreadGlob.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace zs::k8bus {
namespace {

struct MsgContext : ThreadSlotState {
    unsigned char* buffer = nullptr;
    std::int32_t capacity = 0;
    std::int32_t length = 0;
};

MsgContext* context()
{
    return threadSlotAs<MsgContext>(kSlotMessage);
}

void put16(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>((v >> 8) & 0xFF);
    p[1] = static_cast<unsigned char>(v & 0xFF);
}

} // namespace
} // namespace zs::k8bus

using namespace zs::k8bus;

extern "C" {

void* msgInit(unsigned char type, unsigned char* buffer, std::uint32_t capacity)
{
    MsgContext* ctx = context();
    if (!ctx) {
        auto fresh = std::unique_ptr<MsgContext>(new (std::nothrow) MsgContext);
        ctx = fresh.get();
        if (!ctx || !threadSetSlot(kSlotMessage, std::move(fresh))) {
            logWrite("apimsg::initApi: failed to init thread globals\n");
            return nullptr;
        }
    }
    // A buffer below 3 bytes cannot hold the header: refuse rather than write past it.
    if (!buffer || capacity < 3) {
        ctx->buffer = nullptr;
        ctx->capacity = 0;
        ctx->length = 0;
        return nullptr;
    }
    ctx->capacity = capacity > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(capacity);
    ctx->buffer = buffer;
    buffer[0] = type;
    buffer[1] = 0;
    buffer[2] = 0;
    ctx->length = 3;
    return ctx;
}

int msgStoreParam(unsigned char* dest, std::int32_t room, std::uint32_t length, const unsigned char* data)
{
    if (!dest)
        return 0;
    if (static_cast<std::int64_t>(length) + 2 > room) {
        // Cut to the room left; below 3 bytes nothing of the parameter would fit.
        if (room < 3)
            return 0;
        length = static_cast<std::uint32_t>(room - 2);
    }
    // The length field is 16 bits: a longer parameter is cut to what the field can say.
    if (length > 0xFFFF)
        length = 0xFFFF;
    put16(dest, length);
    if (length > 0 && data)
        std::memcpy(dest + 2, data, length);
    return static_cast<int>(length) + 2;
}

int msgStoreArrayParam(unsigned char* dest, std::int32_t room, std::uint32_t /*length*/, const char* text,
                       char separator)
{
    if (!dest || !text || text[0] != '(')
        return -1;
    std::int64_t offset = 4;
    std::uint32_t count = 0;
    const char* p = text + 1;
    for (;;) {
        const char* sep = std::strchr(p, separator);
        const char* end = sep;
        bool last = false;
        if (!sep || separator == '\0') {
            end = std::strchr(p, ')');
            if (!end)
                return -1;
            last = true;
        }
        const std::int64_t elementLength = end - p;
        if (elementLength + 2 > room - offset || elementLength > 0xFFFF)
            return -2;
        put16(dest + offset, static_cast<std::uint32_t>(elementLength));
        std::memcpy(dest + offset + 2, p, static_cast<std::size_t>(elementLength));
        offset += elementLength + 2;
        ++count;
        if (last)
            break;
        p = end + 1;
    }
    if (room < 4 || offset - 2 > 0xFFFF)
        return -2;
    put16(dest, static_cast<std::uint32_t>(offset - 2));
    put16(dest + 2, count);
    return static_cast<int>(offset);
}

int msgSetParam(std::uint32_t length, const unsigned char* data)
{
    MsgContext* ctx = context();
    if (!ctx || !ctx->buffer)
        return 0;
    int stored = msgStoreParam(ctx->buffer + ctx->length, ctx->capacity - ctx->length, length, data);
    if (stored < 1)
        return 0;
    ctx->length += stored;
    return ctx->length < ctx->capacity ? 1 : 0;
}

int msgSetParamNum(std::uint32_t number)
{
    char text[16];
    int n = std::snprintf(text, sizeof text, "%u", number);
    return msgSetParam(static_cast<std::uint32_t>(n), reinterpret_cast<const unsigned char*>(text));
}

void msgSetNumParams(std::uint32_t count)
{
    MsgContext* ctx = context();
    if (ctx && ctx->buffer)
        put16(ctx->buffer + 1, count & 0xFFFF);
}

unsigned char* msgBuf()
{
    MsgContext* ctx = context();
    return ctx ? ctx->buffer : nullptr;
}

std::uint32_t msgLength()
{
    MsgContext* ctx = context();
    return ctx && ctx->buffer ? static_cast<std::uint32_t>(ctx->length) : 0;
}

} // extern "C"
