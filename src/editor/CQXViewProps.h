#pragma once

#include "editor/QXKeyPropsContext.h"

#include <QGroupBox>
#include <cstdint>
#include <optional>

class CTesSliderCtrl;
class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

// How a key that shows text draws it: six entries of the key's "Properties" dictionary,
// each written to every selected key as soon as its control changes. Colours are stored
// as decimal numbers with red in the lowest byte, then green, then blue. "&Copy" takes the
// six from the shown key, "&Paste" writes them to the selected keys and "&Reset" removes
// them so the defaults apply. Reloads on 2038.
class CQXViewProps : public QGroupBox {
    Q_OBJECT
public:
    struct Appearance {
        QString face = QStringLiteral("Tahoma");
        int size = 28; // points
        bool bold = false;
        bool italic = false;
        uint32_t color = 0xFFFFFF; // white
        uint32_t bkColor = 0;      // black

        bool operator==(const Appearance&) const = default;
    };
    static constexpr int kMinSize = 6;
    static constexpr int kMaxSize = 72;

    CQXViewProps(QXKeyPropsContext& context, QWidget* parent = nullptr);
    ~CQXViewProps() override;

    // A button's entries; a missing or unreadable entry gives its default.
    static Appearance read(const QXButton& button);
    // What the controls show.
    Appearance shown() const;

    // Writes one entry ("FontFace", "FontSize", "Bold", "Italic", "Color", "BkColor") to
    // every selected key.
    void setEntry(std::u16string_view name, const std::u16string& value);
    void copy();
    void paste();
    void reset();
    bool canPaste() const { return m_clip.has_value(); }

    void reload();

    static uint32_t toColorRef(const QColor& colour);
    static QColor fromColorRef(uint32_t value);

private:
    void chooseColour(bool text);
    void write(const Appearance& appearance);
    void showColour(QPushButton* button, uint32_t value);

    QXKeyPropsContext& m_context;
    QComboBox* m_face = nullptr;
    CTesSliderCtrl* m_sizeSlider = nullptr;
    QSpinBox* m_sizeEdit = nullptr;
    QCheckBox* m_bold = nullptr;
    QCheckBox* m_italic = nullptr;
    QPushButton* m_color = nullptr;
    QPushButton* m_bkColor = nullptr;
    QPushButton* m_paste = nullptr;
    uint32_t m_colorValue = 0xFFFFFF;
    uint32_t m_bkColorValue = 0;
    std::optional<Appearance> m_clip;
    bool m_loading = false;
};
