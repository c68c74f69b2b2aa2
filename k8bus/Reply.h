#pragma once
// Reading the daemon's replies. Every parameter is read whole by its length field and then
// decoded from memory with every count and length checked against the bytes actually there,
// so a malformed reply is refused without reading past it and the next reply starts in step.

#include "ApiState.h"

#include <string>
#include <vector>

namespace zs::k8bus {

enum ReplyType { kKernelStatus = 0, kDaemonStatus = 1, kNewSession = 2, kNeedScreen = 3, kOutputReq = 4 };

/// Keeps count, while it lives, of the parameters read whole from one socket and of whether a
/// read there came up short, so the caller can tell whether a reply was read to its end. A frame
/// made inside another (a call from the host's yield hook) hides the outer one until it ends.
class ReplyFrame {
  public:
    explicit ReplyFrame(int sock);
    ~ReplyFrame();
    ReplyFrame(const ReplyFrame&) = delete;
    ReplyFrame& operator=(const ReplyFrame&) = delete;
    /// Starts counting afresh (a new reply on the same socket).
    void restart();
    int read() const { return m_read; }
    bool lost() const { return m_lost; }

  private:
    friend void replyFrameNote(int sock, bool whole);
    int m_sock;
    int m_read = 0;
    bool m_lost = false;
    ReplyFrame* m_outer;
};

bool recvReplyHeader(int sock, int& type, int& count);
bool recvReplyReqInfoBlock(int sock, KernelSession& k);
/// Reads one parameter's bytes. False after logging `what` on a short read.
bool recvParam(int sock, std::vector<unsigned char>& out, const char* what);
/// A numeric parameter: false on a receive error (number -1), an empty one (number 0) or bad text.
bool recvNumParam(int sock, long& number);
/// Decodes decimal text of 1-20 characters with an optional leading sign.
bool parseNumString(const unsigned char* text, std::size_t length, long& number);
void recvAndDiscardNextParam(int sock, int n);

/// A return-parameter list (from the socket when `source` is null). Format "D<sep>" writes
/// key=value pairs as text, "L" the raw list. count: out; room: in the buffer's size, out the bytes written.
bool recvReturnParameters(int sock, const char* format, int& count, int sourceLength, int& room, char* buffer,
                          const unsigned char* source);
bool recvStatusVars(KernelSession& k);
bool outputRequired(SystemSession& s, KernelSession& k, int port, int format);
/// One report line from the output connection: > 0 handed on, 0 closed, -1 error.
int outputData(int session);

/// One EXEC: the caller's session, task and return buffer, and what its replies brought. The
/// execute loop makes one per call and hands it to the reader of each reply.
struct ExecCall {
    int session;
    SystemSession& s;
    KernelSession& k;
    const char* task;
    const char* format;
    int* nParams;
    int* maxLenOut;
    char* paramBuffer;
    bool ok = false;
    bool gotReturnList = false;
    bool gotStatusVars = false;
    bool inStep = true;      ///< every reply so far read to its end
    bool statusRead = false; ///< a status reply ended the task
};

/// The execute loop's readers, one per reply type (`count`: the reply's parameters). False ends
/// the request as failed; a status reply ends it in any case, with `call.ok` set when it succeeded.
bool readKernelStatus(ExecCall& call, int count);
bool readDaemonStatus(ExecCall& call, int count);
bool readNeedScreen(ExecCall& call, int count);
bool readOutputReq(ExecCall& call, int count);

} // namespace zs::k8bus
