#pragma once

#include "kit/CDownloadTask.h"
#include "kit/CQXViewPluginInstanceEx.h"
#include "utility/utility.h"

// A working-thread view that downloads: T overrides Update() to start a download
// (startDownload) and the download notifications (OnComplete at least) to draw what came.
// The notifications arrive on a utility library thread, not the working thread.
//
// Disposal: the working thread's release() first cancels the download and waits for a
// notification in progress, then deletes the object, so no notification reaches a deleted
// view. Deactivate does not cancel; a picture published while inactive is ignored.
template <typename T, uint32_t P>
class CQXViewPluginInstanceExWithDownloading : public CQXViewPluginInstanceEx<T, P>,
                                               public CDownloadTask {
public:
    explicit CQXViewPluginInstanceExWithDownloading(IQXViewPluginContext* context)
        : CQXViewPluginInstanceEx<T, P>(context) {}

    void Update() override {}

    void release() override {
        HttpDownloadingUnregisterTask(downloadTask());
        CWorkingThreadListener<T>::release();
    }

protected:
    // Starts downloading url for this view, cancelling its previous download; userName and
    // password (in the form PassProtect made) may be empty. 1 when it was started.
    int startDownload(const char16_t* url, const char16_t* userName = u"",
                      const char16_t* password = u"") {
        return HttpDownloadingRegisterTask(downloadTask(), url, userName, password);
    }

    IDownloadTask* downloadTask() { return this; }

    // Downloading views poll again soon after an edit or an action: every round.
    uint32_t tickPeriod() const override { return 0; }
};
