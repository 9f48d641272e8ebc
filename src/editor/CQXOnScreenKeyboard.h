#pragma once

#include "controls/CTesDialog.h"

#include <optional>

class CQXKeyboardSelect;

// "Select Key": a picture of the keyboard for choosing one key. The dialog keeps the
// picture's aspect ratio while it is resized; releasing the mouse over a key closes it
// as confirmed with that key.
class CQXOnScreenKeyboard : public CTesDialog {
    Q_OBJECT
public:
    CQXOnScreenKeyboard(size_t currentKey, QWidget* parent = nullptr);

    // Runs the dialog; the chosen key, or nothing when it was cancelled.
    static std::optional<size_t> chooseKey(QWidget* parent, size_t currentKey);

    CQXKeyboardSelect* keyboard() const { return m_keyboard; }
    std::optional<size_t> chosenKey() const { return m_chosen; }

protected:
    void OnInit() override;
    int OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    CQXKeyboardSelect* m_keyboard = nullptr;
    std::optional<size_t> m_chosen;
};
