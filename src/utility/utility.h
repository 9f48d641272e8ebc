#pragma once

// The utility library: folder zipping, HTTP downloading with callbacks, password
// protection and a shared working thread, for the program and the plug-ins.
//
// All functions are plain exports with undecorated names. Text is UTF-16 and
// zero-terminated; the library never keeps a caller's string after the call returns.
// Interfaces crossing this boundary are pure virtual classes; the library never
// deletes a task or listener itself (IWorkingThreadListener::release does that, on
// the owner's behalf).

#include <cstddef>
#include <cstdint>

#if defined(QX_UTILITY_BUILD)
#define QX_UTILITY_API __attribute__((visibility("default")))
#else
#define QX_UTILITY_API
#endif

// Receives the events of one download. Every operation is called on a library
// thread, never on the caller's thread; implementations that touch windows post or
// send a message instead. Order: OnResponse, OnContentType, OnProgress (zero or more
// times), OnTransferEnd, OnComplete; or, at any point, OnFailed, which ends the download.
class IDownloadTask {
public:
    // The server answered; httpStatus is its status code (200, ...).
    virtual void OnResponse(int httpStatus) = 0;
    // The download is over without a body: error is a curl error code (or 0 when the
    // transfer worked but was refused, see below), httpStatus the last status seen
    // (0 when none). Statuses of 400 and above, an OnContentType that returned 0, an
    // unreadable password and a cancelled start all end here.
    virtual void OnFailed(int error, int httpStatus) = 0;
    // The response's content type ("text/xml; charset=UTF-8"; empty when the server
    // gave none). Return 1 to go on, 0 to stop the download.
    virtual int OnContentType(const char16_t* contentType) = 0;
    // Bytes received so far and the announced total (0 when the server gave none).
    virtual void OnProgress(int64_t received, int64_t total) = 0;
    // The transfer finished: final status and body length, just before OnComplete.
    virtual void OnTransferEnd(int httpStatus, int64_t length) = 0;
    // The whole body. The buffer belongs to the library and is valid during the call.
    virtual void OnComplete(const unsigned char* body, size_t length) = 0;

protected:
    ~IDownloadTask() = default;
};

// A client of the shared working thread.
class IWorkingThreadListener {
public:
    // Called on the working thread about every 100 ms while the listener is added.
    virtual void tick() = 0;
    // Called once on the working thread after WorkingThreadFreeListener; deletes the
    // object that owns the listener.
    virtual void release() = 0;

protected:
    ~IWorkingThreadListener() = default;
};

extern "C" {

// Packs the contents of sourceFolder (they become the archive's top level) into a
// zip file at archiveFile, replacing it. Returns 1 on success, 0 on failure; a failed
// call leaves no archive behind.
QX_UTILITY_API int ZippingArchiveFolder(const char16_t* sourceFolder, const char16_t* archiveFile);

// Unpacks an archive into destinationFolder (created when missing). Returns non-zero
// on success. An archive holding an entry that is absolute, climbs out with "..", is
// a link or a device, an entry larger than 64 MiB, or an archive that would unpack to
// more than 1 GiB is refused as a whole:
// 0 is returned and nothing is written.
QX_UTILITY_API int ZippingUnarchiveFolder(const char16_t* archiveFile,
                                          const char16_t* destinationFolder);

// Why the last zipping call of this thread failed, in English, as UTF-16 into the
// buffer (capacity in char16_t, terminator included). Returns the length written.
QX_UTILITY_API int ZippingLastError(char16_t* buffer, int capacity);

// Starts downloading url and returns at once; the task hears of it on a library
// thread. userName and password may be empty; a non-empty password is in the form
// PassProtect made. Returns 1 when the download was started (a task can have one
// download at a time; registering it again cancels the earlier one first).
QX_UTILITY_API int HttpDownloadingRegisterTask(IDownloadTask* task, const char16_t* url,
                                               const char16_t* userName,
                                               const char16_t* password);

// Cancels the task's download, if any. When it returns no callback is running for the
// task and none will follow, so the caller may destroy the task. It may be called
// from inside one of the task's own callbacks.
QX_UTILITY_API void HttpDownloadingUnregisterTask(IDownloadTask* task);

// Turns a password into a protected text for storing in a property list (ASCII, so it
// fits a property list as is). The key is per user and kept outside the profile.
// outCapacity counts char16_t, terminator included. Returns 1 on success, 0 when the
// result would not fit or no key is available (the buffer then holds "").
QX_UTILITY_API int PassProtect(const char16_t* plainText, char16_t* outBuffer, int outCapacity);

// The inverse of PassProtect. Returns 1 on success; 0 for text that was altered, made
// with another key, or does not fit (the buffer then holds "").
QX_UTILITY_API int PassUnprotect(const char16_t* protectedText, char16_t* outBuffer,
                                 int outCapacity);

// Adds a listener to the working thread, which ticks it about every 100 ms from then
// on. Adding a listener twice has no further effect.
QX_UTILITY_API void WorkingThreadAddListener(IWorkingThreadListener* listener);

// Adds a listener that needs a tick only every periodMilliseconds: it is ticked at once,
// then on the first round more than that after its previous tick, and the thread does not
// wake for it in between (so a view drawn once a second costs one wake-up a second, not
// ten). Adding a listener twice has no further effect.
QX_UTILITY_API void WorkingThreadAddPeriodicListener(IWorkingThreadListener* listener,
                                                     unsigned int periodMilliseconds);

// Stops the ticks for the listener. When it returns no tick is in progress for it
// (unless it is called from that very tick).
QX_UTILITY_API void WorkingThreadRemoveListener(IWorkingThreadListener* listener);

// Hands the listener over for disposal: the working thread stops ticking it and then
// calls its release() once. The caller must not touch it afterwards.
QX_UTILITY_API void WorkingThreadFreeListener(IWorkingThreadListener* listener);

// Ends the working thread once it has released every listener handed over, and returns
// when it has ended; listeners still added are not ticked until the next Add or Free
// starts the thread again. A program that lets its plug-ins draw on the thread calls it
// while the libraries they draw with are still up, so that the thread's own data in them
// (Qt's font caches of that thread, say) go with the thread and not after those libraries
// are torn down at exit. Called from a tick, it does nothing.
QX_UTILITY_API void WorkingThreadStop();

} // extern "C"
