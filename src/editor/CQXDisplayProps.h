#pragma once

#include "editor/CQXCommonPluginProps.h"

class QLabel;
class QLineEdit;

// "Display:": what the selected keys show. A view plug-in through the common button, or
// a picture: a path typed into the field, chosen with "Browse..." (1078) or dropped as a
// file on the panel. A file the picture decoder refuses changes nothing and the panel
// says why under the field.
class CQXDisplayProps : public CQXCommonPluginProps {
    Q_OBJECT
public:
    static constexpr int kBrowseId = 1078;
    static const QString kBrowseTitle;
    static const QString kBrowseFilter;

    CQXDisplayProps(QXKeyPropsContext& context, QWidget* parent = nullptr);

    // Decodes the file once and gives each selected key its own copy as its picture.
    bool setPicture(const QString& path);
    QLineEdit* pathEdit() const { return m_path; }
    // Why the last picture was refused; empty after a success.
    QString message() const;

    void reload() override;
    // A view plug-in that takes the files has them; otherwise the first becomes the
    // keys' picture.
    bool takeFiles(const QStringList& paths) override;

private:
    void browse();

    QLineEdit* m_path = nullptr;
    QLabel* m_message = nullptr;
};
