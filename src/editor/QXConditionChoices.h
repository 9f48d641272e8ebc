#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QXLayoutSource;

// One application an application condition can name.
struct QXApplicationChoice {
    std::u16string name; // lower-case base name of the program file, as conditions store it
    std::u16string text; // what the list shows; the name when empty
    int iconIndex = -1;  // in QXGlobalImageList
};

// One installed keyboard layout.
struct QXLayoutChoice {
    uint32_t handle = 0;
    std::u16string text;
};

// What the conditions view offers in its lists and as starting values. The program hands
// in its applications list; the editor itself knows the layouts and the browser.
class QXConditionChoices {
public:
    virtual ~QXConditionChoices() = default;

    // The known applications in the order the list shows them.
    virtual std::vector<QXApplicationChoice> applications() const = 0;
    // Adds a program file the user picked; nothing when it cannot be added.
    virtual std::optional<QXApplicationChoice> addApplication(const std::u16string& path) = 0;
    // The installed layouts in the system's order.
    virtual std::vector<QXLayoutChoice> layouts() const = 0;
    // The layout active at this moment.
    virtual uint32_t currentLayout() const = 0;
    // The application a new application condition names.
    virtual std::u16string defaultBrowser() const = 0;
};

// The editor's own answers: layouts from a layout source, the current layout from the
// installed system state, the desktop's default web browser, and the applications given
// to it plus those the user adds.
class QXSystemConditionChoices : public QXConditionChoices {
public:
    explicit QXSystemConditionChoices(QXLayoutSource& layouts,
                                      std::vector<QXApplicationChoice> applications = {});

    std::vector<QXApplicationChoice> applications() const override { return m_applications; }
    // Any existing executable file; named like a running process (links followed).
    std::optional<QXApplicationChoice> addApplication(const std::u16string& path) override;
    std::vector<QXLayoutChoice> layouts() const override;
    uint32_t currentLayout() const override;
    std::u16string defaultBrowser() const override;

    // The name of the program the desktop opens web addresses with ("firefox-esr"), or
    // "firefox" when the desktop names none that can be found.
    static std::u16string desktopDefaultBrowser();
    // The lower-cased base name of the program file with links followed.
    static std::u16string applicationName(const std::u16string& path);
    // An existing executable file; anything else is refused with its reason in the log.
    static bool isProgramFile(const std::u16string& path);

private:
    QXLayoutSource& m_layouts;
    std::vector<QXApplicationChoice> m_applications;
};
