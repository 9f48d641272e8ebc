#pragma once

#include "pluginhost/QXPluginContextImpl.h"
#include "pluginhost/QXPluginRegistry.h"

#include <array>
#include <memory>
#include <mutex>
#include <span>

// A plug-in view on a key, as the layer model holds it and as the plug-in's context.
//
// The plug-in draws into the key's drawing surface and publishes it with UpdateImage,
// from any of its threads; the host copies the surface into its own buffer there and
// then sends 2037 (this object, key index) to the dispatch. The handler, on the GUI
// thread, takes the picture with copyImage(). A send from a plug-in thread can be
// handled late (when the GUI thread was waiting for that thread), so the handler first
// checks that the pointer it got is still live (isLive, or that it is still the view
// of the key's winning button). The pointer is the same address whether the handler
// takes it as a QXViewPluginInstance* or as the model's QXKeyViewInstance*.
class QXViewPluginInstance final : public QXGUIPluginContextImpl<IQXViewPluginContext> {
public:
    static constexpr int kSize = 48;
    static constexpr int kStride = kSize * 3; // bytes per row: 24-bit blue-green-red
    static_assert(kImageBytes == size_t(kStride) * kSize);
    using Pixels = std::array<unsigned char, kImageBytes>;

    explicit QXViewPluginInstance(QXPluginRegistry& registry = QXPluginRegistry::instance());
    ~QXViewPluginInstance() override;

    // ---- the view context (geometry, GetDC and UpdateImage: any thread) ----
    // The action on the same key of the same layer, when the same plug-in made it.
    IQXActionPluginInstance* GetActionInstance() override;
    int32_t GetKeyRow() override;
    int32_t GetKeyPlace() override;
    int32_t GetKeyX() override;
    int32_t GetKeyY() override;
    QXDrawingSurface* GetDC() override;
    void UpdateImage() override;

    // ---- the layer model (GUI thread) ----
    void start() override { attach(); }
    void stop() override { detach(); }
    // The key became visible: with a plug-in instance and no buffer yet, the buffer is
    // made (black; the surface too, the first time) and the view activated.
    void show() override;
    // The key was hidden: the buffer goes first, so pictures published meanwhile are
    // dropped, then the view is deactivated.
    void hide() override;
    bool isShown() const override;
    // Losing its holder ends the plug-in instance.
    void setHolder(const QXLayersItem* holder) override;

    // Hides the view and its page and releases the plug-in instance.
    void detach();

    // The last published picture: 48 rows of kStride bytes, bottom row first, blue-
    // green-red. False (nothing copied) while the view is not shown. Any thread.
    bool copyImage(std::span<unsigned char, kImageBytes> out) const override;

    // Whether the pointer a 2037 handler received is still a live view, and that view
    // held for the handler's use (empty when it is gone). Any thread.
    static bool isLive(const void* view);
    static QXPtr<QXViewPluginInstance> live(const void* view);

private:
    struct Surface {
        Pixels bits{};
        QXDrawingSurface handle{};
    };

    mutable std::mutex m_mutex;         // guards the two pointers below; held for one copy at most
    std::unique_ptr<Surface> m_surface; // made at the first show, kept until destruction
    std::unique_ptr<Pixels> m_buffer;   // exists while shown
};
