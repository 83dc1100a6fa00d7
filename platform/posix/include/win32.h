// The Win32 subset that the plug-in and the stand-in host call, on POSIX.
//
// Every function keeps Win32's signature, results and GetLastError codes, so
// the plug-in's sources read the same on both platforms. The implementation
// is the shared library vaskwin32 (one copy per process: host and plug-in
// meet in it). Mailslots run over the emulated LAN: a directory of AF_UNIX
// datagram sockets, <LAN>/<WORKGROUP>/<COMPUTER>/<slot>. Only what callers
// rely on is implemented; anything else fails with ERROR_NOT_SUPPORTED.
//
// The environment is read at each call, not once: VASK_LAN_DIR (the LAN
// directory; default ${XDG_RUNTIME_DIR:-/tmp}/vask-lan-<uid>, created 0700
// and refused with ERROR_ACCESS_DENIED when someone else owns it or group or
// others may use it), COMPUTERNAME and VASK_WORKGROUP (default WORKGROUP);
// computer and workgroup names are upper-cased and cut to 15 characters,
// slot names are kept lower-cased on disk. Names match without regard to
// case, Windows-1250 letters included (lan_names.h), and a folder of any
// case or length made by another hand is found.
//
// The LAN keeps a real network's rules: a write to another computer or to
// "*" carries at most 424 bytes (a longer one fails with ERROR_BAD_NETPATH,
// as on Windows and through vask-bridge; one to the own computer, as
// \\.\mailslot\x or by the own name, keeps the server's own limit); a write
// never waits for its receiver (one whose queue is full gets the datagram
// later or loses it); VASK_REMOTE_MAILSLOTS=off (or 0) switches remote
// mailslots off, and opens of and writes to another computer's slot or "*"
// fail with ERROR_REMOTE_MAILSLOTS_DEPRECATED.
#pragma once

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define VASK_WIN32_API __attribute__((visibility("default")))
#define WINAPI
#define CALLBACK
#define APIENTRY
#define __stdcall
#define __cdecl

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int INT;
typedef char CHAR;
typedef void* HANDLE;
typedef HANDLE* LPHANDLE;
typedef size_t SIZE_T;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* HWND;
typedef void* HRSRC;
typedef void* HGLOBAL;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define MAILSLOT_NO_MESSAGE ((DWORD)-1)
#define MAILSLOT_WAIT_FOREVER ((DWORD)-1)
#define MAX_COMPUTERNAME_LENGTH 15

// GetLastError codes used here.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_GEN_FAILURE 31L
#define ERROR_BAD_NETPATH 53L
#define ERROR_NETWORK_ACCESS_DENIED 65L
#define ERROR_BAD_NET_NAME 67L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_BUFFER_OVERFLOW 111L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_NO_NETWORK 1222L
#define ERROR_CONNECTION_REFUSED 1225L
#define ERROR_INVALID_THREAD_ID 1444L
#define ERROR_NOT_ENOUGH_QUOTA 1816L
#define ERROR_NOT_CONTAINER 1207L
// Remote mailslots switched off on this computer (newer Windows by default;
// here VASK_REMOTE_MAILSLOTS=off).
#define ERROR_REMOTE_MAILSLOTS_DEPRECATED 3025L

// CreateFileA.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

// Waits.
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_IO_COMPLETION 0x000000C0u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define QS_ALLINPUT 0x04FFu
#define QS_ALLEVENTS 0x04BFu
#define MWMO_WAITALL 0x0001u
#define MWMO_ALERTABLE 0x0002u
#define MWMO_INPUTAVAILABLE 0x0004u

#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu
#define TLS_MINIMUM_AVAILABLE 64

// Threads.
#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u

// Thread input.
#define WM_NULL 0x0000u
#define WM_QUIT 0x0012u
#define WM_USER 0x0400u

// Resources.
#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)((WORD)(i)))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)

// ShellExecuteA show commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
// ShellExecuteA failures (values at or below 32).
#define SE_ERR_FNF 2
#define SE_ERR_NOASSOC 31

// Network enumeration (mpr).
#define RESOURCE_CONNECTED 0x00000001u
#define RESOURCE_GLOBALNET 0x00000002u
#define RESOURCE_REMEMBERED 0x00000003u
#define RESOURCE_CONTEXT 0x00000005u
#define RESOURCETYPE_ANY 0x00000000u
#define RESOURCETYPE_DISK 0x00000001u
#define RESOURCETYPE_PRINT 0x00000002u
#define RESOURCEUSAGE_CONNECTABLE 0x00000001u
#define RESOURCEUSAGE_CONTAINER 0x00000002u
#define RESOURCEUSAGE_ATTACHED 0x00000010u
#define RESOURCEUSAGE_ALL 0x00000013u
#define RESOURCEDISPLAYTYPE_GENERIC 0x00000000u
#define RESOURCEDISPLAYTYPE_DOMAIN 0x00000001u
#define RESOURCEDISPLAYTYPE_SERVER 0x00000002u
#define RESOURCEDISPLAYTYPE_SHARE 0x00000003u
#define RESOURCEDISPLAYTYPE_GROUP 0x00000005u
#define RESOURCEDISPLAYTYPE_NETWORK 0x00000006u
#define RESOURCEDISPLAYTYPE_ROOT 0x00000007u

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

// A re-entrant lock. The state lives behind one pointer so that the record
// has a fixed size whatever the pthread implementation.
struct CRITICAL_SECTION {
  void* impl;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

struct NETRESOURCEA {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  LPSTR lpLocalName;
  LPSTR lpRemoteName;
  LPSTR lpComment;
  LPSTR lpProvider;
};
typedef NETRESOURCEA* LPNETRESOURCEA;

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

extern "C" {

VASK_WIN32_API DWORD WINAPI GetLastError(void);
VASK_WIN32_API void WINAPI SetLastError(DWORD code);

// Mailslots and files. CreateFileA and friends accept mailslot paths only:
// "\\.\mailslot\X" is served by CreateMailslotA; "\\NAME\mailslot\X" opens
// the client side on computer NAME (any workgroup) and fails when no live
// slot X exists there (ERROR_BAD_NETPATH: no such computer;
// ERROR_FILE_NOT_FOUND: no such slot); "\\*\mailslot\X" every computer of
// the own workgroup. Slot names compare without regard to case.
//
// A second live server of one name on one computer fails with
// ERROR_ALREADY_EXISTS. A message larger than the server's maximum size is
// dropped (the writer still sees success, as a remote write would). ReadFile
// with a buffer smaller than the next message fails with
// ERROR_INSUFFICIENT_BUFFER and leaves the message queued; on an empty slot
// it waits up to the read time-out, then fails with ERROR_SEM_TIMEOUT.
// A write to "*" succeeds when at least one slot took the message, and also
// when the workgroup has no such slot at all: like a domain broadcast, it
// cannot know its receivers. It fails only when every receiver refused.
// A write to another computer or to "*" of more than 424 bytes fails with
// ERROR_BAD_NETPATH and reaches nobody. No write waits for a receiver: one
// whose queue is full (its process stopped) takes the datagram when it goes
// on, or loses it once a bounded backlog for it has filled.
VASK_WIN32_API HANDLE WINAPI CreateMailslotA(LPCSTR name, DWORD maxMessageSize, DWORD readTimeout,
                                             LPSECURITY_ATTRIBUTES security);
VASK_WIN32_API BOOL WINAPI GetMailslotInfo(HANDLE slot, LPDWORD maxMessageSize, LPDWORD nextSize,
                                           LPDWORD messageCount, LPDWORD readTimeout);
VASK_WIN32_API HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                                         LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                         DWORD flags, HANDLE templateFile);
VASK_WIN32_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                                    LPOVERLAPPED overlapped);
VASK_WIN32_API BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                                     LPOVERLAPPED overlapped);
// Any handle of this layer (mailslot, thread, enumeration); an unknown or
// already closed one gives FALSE and ERROR_INVALID_HANDLE.
VASK_WIN32_API BOOL WINAPI CloseHandle(HANDLE handle);
// Not Win32: creates the server slot <name> (a bare slot name) on computer
// <computer> of the own workgroup, as that computer's copy would. Tests stand
// in for a peer with it. Same results as CreateMailslotA; read time-out 0.
VASK_WIN32_API HANDLE VaskCreateMailslotOn(LPCSTR computer, LPCSTR name, DWORD maxMessageSize);

// COMPUTERNAME, else the host name up to its first dot, upper-cased, at most
// 15 characters. *size is in characters: on success the length without NUL;
// when the buffer is too small, FALSE, ERROR_BUFFER_OVERFLOW and *size is the
// length needed with the NUL.
VASK_WIN32_API BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size);

VASK_WIN32_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
VASK_WIN32_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
VASK_WIN32_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
VASK_WIN32_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
VASK_WIN32_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

VASK_WIN32_API void WINAPI Sleep(DWORD milliseconds);
// Returns 0, or WAIT_IO_COMPLETION when an alertable sleep was woken by
// QueueUserAPC-style input (never on POSIX: there are no APCs).
VASK_WIN32_API DWORD WINAPI SleepEx(DWORD milliseconds, BOOL alertable);
VASK_WIN32_API DWORD WINAPI GetTickCount(void);

// Threads. A thread handle is waitable: it signals when the thread ends.
// Each thread has an input queue (PostThreadMessageA): input posted to a
// thread wakes its MsgWaitForMultipleObjectsEx with WAIT_OBJECT_0 + count.
VASK_WIN32_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                          LPTHREAD_START_ROUTINE routine, LPVOID argument,
                                          DWORD flags, LPDWORD threadId);
VASK_WIN32_API DWORD WINAPI GetCurrentThreadId(void);
VASK_WIN32_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
VASK_WIN32_API DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
VASK_WIN32_API DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles,
                                                        DWORD milliseconds, DWORD wakeMask,
                                                        DWORD flags);
// The host side of the input queue: post one input item to a thread; take
// every pending item of the calling thread (the host's message pump).
VASK_WIN32_API BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam,
                                              LPARAM lParam);
struct POINT {
  LONG x;
  LONG y;
};
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
VASK_WIN32_API BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax,
                                        UINT removeFlags);

VASK_WIN32_API DWORD WINAPI TlsAlloc(void);
VASK_WIN32_API LPVOID WINAPI TlsGetValue(DWORD index);
VASK_WIN32_API BOOL WINAPI TlsSetValue(DWORD index, LPVOID value);
VASK_WIN32_API BOOL WINAPI TlsFree(DWORD index);

// String resources. GetModuleHandleA(NULL) is the running program. A module
// carries resources only when one is registered for it (tests and the host
// may register a string table); otherwise every lookup finds nothing.
VASK_WIN32_API HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
VASK_WIN32_API HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
VASK_WIN32_API DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);
VASK_WIN32_API int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
// Not Win32: registers string id -> text for a module, as a resource script
// would have compiled it in. Texts are copied.
VASK_WIN32_API void VaskRegisterString(HMODULE module, UINT id, LPCSTR text);

// Opens the path with xdg-open when present. Above 32 on success; 2
// (file not found) or 31 (no association) on failure, as Win32 reports.
VASK_WIN32_API HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file,
                                              LPCSTR parameters, LPCSTR directory, INT show);

// The emulated LAN tree: the root (no container, RESOURCE_GLOBALNET) holds
// one network (display type NETWORK, remote name and provider "Vask emulated
// LAN"); the network holds the workgroups (DOMAIN); a workgroup its running
// computers ("\\NAME", display type SERVER, comment from the optional file
// "comment" in the computer's folder). A computer runs while it has at least
// one live slot. Every entry has usage RESOURCEUSAGE_CONTAINER; a computer
// holds nothing. RESOURCE_CONTEXT lists the running computers of the own
// workgroup. The list is taken when the enumeration opens.
//
// WNetEnumResourceA packs as many entries as fit (at most *count; 0xFFFFFFFF
// for all) into the buffer, the strings behind the records; ERROR_MORE_DATA
// with *bufferSize set to the size needed when not even one fits;
// ERROR_NO_MORE_ITEMS at the end. It never succeeds with zero entries.
VASK_WIN32_API DWORD WINAPI WNetOpenEnumA(DWORD scope, DWORD type, DWORD usage,
                                          LPNETRESOURCEA container, LPHANDLE enumHandle);
VASK_WIN32_API DWORD WINAPI WNetEnumResourceA(HANDLE enumHandle, LPDWORD count, LPVOID buffer,
                                              LPDWORD bufferSize);
VASK_WIN32_API DWORD WINAPI WNetCloseEnum(HANDLE enumHandle);

// The CRT helpers.
VASK_WIN32_API char* _itoa(int value, char* buffer, int radix);
VASK_WIN32_API char* _strlwr(char* text);
VASK_WIN32_API char* _strupr(char* text);
VASK_WIN32_API char* _strdup(const char* text);
VASK_WIN32_API int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
// Unix time in seconds as a 64-bit number on every build (the i386 one
// included), so that times after 2038 stay whole.
VASK_WIN32_API long long _time64(long long* out);
// Not Win32: moves the clock _time64 reports by `seconds` (negative turns
// it back) for every thread of the process at once, and returns the whole
// offset from the real time now in force. Tests let a message's ten
// seconds pass with it instead of waiting them out; nothing else calls it.
VASK_WIN32_API long long VaskAdvanceClock(long long seconds);

}  // extern "C"

// ---- Winsock (ws2_32) ------------------------------------------------------
//
// The sockets themselves are the system's (socket, bind, sendto, recvfrom,
// select, setsockopt, getaddrinfo keep their POSIX names and behave as
// Winsock's do for the calls the plug-in makes); this layer adds Winsock's
// own names around them. WSAGetLastError reads the calling thread's last
// socket failure in Winsock's codes. VASK_UDP=off (or 0) makes WSAStartup
// fail with WSASYSNOTREADY, as on a computer without a network stack: the
// emulation's switch for a copy that has no UDP at all.
typedef int SOCKET;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)
#define MAKEWORD(low, high) ((WORD)(((BYTE)(low)) | (((WORD)(BYTE)(high)) << 8)))

#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEMSGSIZE 10040
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091

// One interface as WSAIoctl(SIO_GET_INTERFACE_LIST) reports it; iiFlags
// holds the IFF_ bits of <net/if.h>.
union sockaddr_gen {
  sockaddr Address;
  sockaddr_in AddressIn;
};
struct INTERFACE_INFO {
  unsigned long iiFlags;
  sockaddr_gen iiAddress;
  sockaddr_gen iiBroadcastAddress;
  sockaddr_gen iiNetmask;
};
#define SIO_GET_INTERFACE_LIST 0x4004747Fu

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
};
typedef WSADATA* LPWSADATA;
typedef void* LPWSAOVERLAPPED;
typedef void* LPWSAOVERLAPPED_COMPLETION_ROUTINE;

extern "C" {

VASK_WIN32_API int WINAPI WSAStartup(WORD version, LPWSADATA data);
VASK_WIN32_API int WINAPI WSACleanup(void);
VASK_WIN32_API int WINAPI WSAGetLastError(void);
VASK_WIN32_API int WINAPI closesocket(SOCKET socket);
// FIONBIO only: a non-zero *argument makes the socket non-blocking.
VASK_WIN32_API int WINAPI ioctlsocket(SOCKET socket, long command, unsigned long* argument);
// SIO_GET_INTERFACE_LIST only: the IPv4 interfaces that are up, as many as
// fit in the output buffer; *returned is their size in bytes. Fails with
// WSAEFAULT when not one fits, WSAEINVAL for any other request.
VASK_WIN32_API int WINAPI WSAIoctl(SOCKET socket, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                   DWORD outSize, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                                   LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);

}  // extern "C"
