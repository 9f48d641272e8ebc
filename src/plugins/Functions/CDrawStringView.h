#pragma once

#include "FunctionsProps.h"
#include "kit/CQXPluginInstance.h"

class QPainter;

// "drawstring.view": a key picture showing a text, drawn when the key is shown and again
// whenever the page changes a setting. GUI thread.
class CDrawStringView : public CQXPluginInstance<IQXViewPluginInstance>,
                        public IQXPluginGUIController,
                        public IDrawStringPluginViewProps {
public:
    explicit CDrawStringView(IQXViewPluginContext* context);

    IQXPluginGUIController* GetGUIController() override { return this; }
    void Activate() override { draw(); }
    void Deactivate() override {}

    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override { return m_page.destroy(); }

    DrawStringSettings settings() const override { return m_settings; }
    void setText(const QString& text) override;
    void setFont(const QString& family) override;
    void setSize(int points) override;
    void setColor(uint32_t colorref) override;
    void setBkColor(uint32_t colorref) override;
    void setBold(bool bold) override;
    void setItalic(bool italic) override;

    // Paints the picture of settings with painter on a 48 x 48 device with the rules for empty and
    // out-of-range values.
    static void paint(const DrawStringSettings& settings, QPainter& painter);

private:
    void draw();
    void store(const char16_t* name, const QString& value);

    DrawStringSettings m_settings;
    FunctionsProps::PageHolder m_page;
};
