#pragma once

#include "utility/utility.h"

// An IDownloadTask that ignores every notification but the completion: the response
// status, a failure, progress and the end of the transfer do nothing, and every content
// type is accepted. A derived class overrides OnComplete (and OnFailed to learn of
// failures). The notifications arrive on a utility library thread.
class CDownloadTask : public IDownloadTask {
public:
    void OnResponse(int /*httpStatus*/) override {}
    void OnFailed(int /*error*/, int /*httpStatus*/) override {}
    int OnContentType(const char16_t* /*contentType*/) override { return 1; }
    void OnProgress(int64_t /*received*/, int64_t /*total*/) override {}
    void OnTransferEnd(int /*httpStatus*/, int64_t /*length*/) override {}

protected:
    CDownloadTask() = default;
    ~CDownloadTask() = default;
};
