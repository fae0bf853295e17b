// The score submission: one HTTP/1.0 GET with the handle, the run time, the
// kills and the deaths, sent from a short-lived thread of its own so that
// the game never waits; the answer is read once and dropped, and no failure
// is ever shown.
#include <winsock2.h>
#include <process.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "actors.h"
#include "bf04.h"

// The handle goes into a query: everything but the unreserved characters is
// percent-encoded, so a space, "&", "%", "#" or a byte above 127 stays part
// of the value.
static void SCORE_Encode(const char* text, char* out, int size)
{
    static const char hex[] = "0123456789ABCDEF";
    int n = 0;
    for (const unsigned char* c = (const unsigned char*)text; *c && n + 4 <= size; c++) {
        if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '-' ||
            *c == '.' || *c == '_' || *c == '~') {
            out[n++] = (char)*c;
        } else {
            out[n++] = '%';
            out[n++] = hex[*c >> 4];
            out[n++] = hex[*c & 15];
        }
    }
    out[n] = 0;
}

int ScoreRequest(char* out, int size, const char* host, const char* handle, int32_t seconds,
                 uint32_t milliseconds, int32_t kills, int32_t deaths)
{
    char encoded[BF04_HANDLE_CHARS * 3 + 1];
    SCORE_Encode(handle, encoded, sizeof encoded);
    int n = snprintf(out, size,
                     "GET http://%s/invtro04_scores.php?handle=%s&time=%04d%04d&kills=%d&deads=%d"
                     "&password=quibbler HTTP/1.0 \r\n\r\n",
                     host, encoded, (int)seconds, (int)milliseconds, (int)kills, (int)deaths);
    return n >= 0 && n < size ? n : -1;
}

void SubmitScoreTo(const char* host, unsigned short port, const char* request, int length)
{
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0 || data.wVersion != 0x0101)
        return;
    hostent* entry = gethostbyname(host);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0])
        return;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    int bytes = entry->h_length < (int)sizeof address.sin_addr ? entry->h_length : (int)sizeof address.sin_addr;
    memcpy(&address.sin_addr, entry->h_addr_list[0], bytes);
    if (connect(s, (sockaddr*)&address, sizeof address) != 0) {
        closesocket(s);
        return;
    }
    char* answer = (char*)malloc(SCORE_ANSWER_BYTES);
    send(s, request, length, 0);
    if (answer)
        recv(s, answer, SCORE_ANSWER_BYTES, 0);
    closesocket(s);
    free(answer);
}

// The thread owns the request block it is given.
static void __cdecl SCORE_Thread(void* block)
{
    char* request = (char*)block;
    SubmitScoreTo(SCORE_HOST, SCORE_PORT, request, (int)strlen(request));
    free(request);
}

// Called by the tick under the game lock: the values are copied into the
// request here, so the thread never reads what the game may change.
void StartScoreSubmission()
{
    char* request = (char*)malloc(SCORE_REQUEST_BYTES);
    if (!request)
        return;
    if (ScoreRequest(request, SCORE_REQUEST_BYTES, SCORE_HOST, G.Handle, P1.Seconds, P1.Milliseconds, P1.Kills,
                     P1.Deaths) < 0 ||
        _beginthread(SCORE_Thread, 0, request) == (uintptr_t)-1) {
        free(request);
        return;
    }
    Counters.ScoreThreads++;
}
