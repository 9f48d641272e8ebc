#pragma once

#include "editor/CQXCommonPluginProps.h"

#include <functional>
#include <optional>

class QListWidget;
class QRadioButton;

// "Action:": what the selected keys do. An action plug-in through the common button, or
// a key verb: the key's own code ("Default", 1080), a multimedia verb from the list
// (1081, list 1077) or the code of another key chosen on a picture of the keyboard
// ("Other verb", 1082, "Select..." 1084). Choosing a verb or a key stores its action
// code on every selected key, which replaces an action plug-in there.
class CQXActionProps : public CQXCommonPluginProps {
    Q_OBJECT
public:
    static constexpr int kVerbListId = 1077;
    static constexpr int kDefaultId = 1080;
    static constexpr int kMultimediaId = 1081;
    static constexpr int kOtherId = 1082;
    static constexpr int kSelectKeyId = 1084;
    static constexpr int kVerbItemHeight = 24;

    CQXActionProps(QXKeyPropsContext& context, QAbstractButton* chain, QWidget* parent = nullptr);

    // Stores the code on every selected key (0: the key's own) and announces it.
    void setActionCode(int code);
    // The caption "Other verb" takes for a stored code.
    static QString otherVerbCaption(int code);
    QListWidget* verbList() const { return m_verbs; }

    // Asks for a key; replaced by tests, which cannot answer a modal dialog.
    std::function<std::optional<size_t>(QWidget* parent, size_t currentKey)> keyChooser;

    void reload() override;

private:
    void verbChosen(int row);

    QRadioButton* m_default = nullptr;
    QRadioButton* m_multimedia = nullptr;
    QRadioButton* m_other = nullptr;
    QListWidget* m_verbs = nullptr;
    QPushButton* m_selectKey = nullptr;
    bool m_loading = false;
};
