// The shipped udev rule, run by a small evaluator of the rule language against device
// chains shaped as the kernel presents the keyboard: this udevadm cannot check a rule file
// by itself. Any key the evaluator does not know fails the test, so a misspelt key (which
// udev would only log) is caught here.
#include "device/QXDeviceDiscovery.h"
#include "support/QXTestSupport.h"

#include <fnmatch.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

namespace {

using Attributes = std::map<std::string, std::string>;

struct Device {
    std::string action = "add";
    std::string subsystem;
    std::map<std::string, std::string> env;
    std::vector<Attributes> chain; // the device's attributes, then each parent's, up to the root
    std::set<std::string> tags;
};

struct Term {
    std::string key, attribute, op, value;
};

struct Rule {
    std::vector<Term> terms;
    int line = 0;
};

// "a|b*": udev's alternatives of shell patterns.
bool matches(const std::string& pattern, const std::string& value) {
    std::istringstream in(pattern);
    for (std::string one; std::getline(in, one, '|');)
        if (fnmatch(one.c_str(), value.c_str(), 0) == 0)
            return true;
    return false;
}

std::vector<Rule> parseRules(const std::string& text) {
    static const std::regex term(R"re(\s*([A-Z]+)(?:\{([^}]*)\})?\s*(==|!=|\+=|=)\s*"([^"]*)"\s*(,|$))re");
    std::vector<Rule> rules;
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
            continue;
        Rule rule;
        rule.line = number;
        auto at = line.cbegin();
        std::smatch m;
        while (at != line.cend() && std::regex_search(at, line.cend(), m, term, std::regex_constants::match_continuous)) {
            rule.terms.push_back({m[1], m[2], m[3], m[4]});
            at = m[0].second;
        }
        EXPECT_TRUE(at == line.cend()) << "line " << number << " does not parse: " << line;
        rules.push_back(rule);
    }
    return rules;
}

// Runs the rules on one device, as udev does for an event.
void apply(const std::vector<Rule>& rules, Device& device) {
    for (size_t i = 0; i < rules.size(); ++i) {
        const Rule& rule = rules[i];
        bool matched = true;
        std::vector<const Term*> attrs; // ATTRS keys of one rule must all hold on one device
        for (const Term& t : rule.terms) {
            const bool isMatch = t.op == "==" || t.op == "!=";
            if (!isMatch)
                continue;
            std::string value;
            if (t.key == "ACTION")
                value = device.action;
            else if (t.key == "SUBSYSTEM")
                value = device.subsystem;
            else if (t.key == "ENV")
                value = device.env.count(t.attribute) ? device.env[t.attribute] : "";
            else if (t.key == "ATTRS") {
                attrs.push_back(&t);
                continue;
            } else {
                ADD_FAILURE() << "line " << rule.line << ": unknown match key " << t.key;
                return;
            }
            matched = matched && (matches(t.value, value) == (t.op == "=="));
        }
        if (matched && !attrs.empty()) {
            bool found = false;
            for (size_t level = 0; level < device.chain.size() && !found; ++level) {
                found = true;
                for (const Term* t : attrs) {
                    auto a = device.chain[level].find(t->attribute);
                    found = found && a != device.chain[level].end() && matches(t->value, a->second);
                }
            }
            matched = found;
        }
        if (!matched)
            continue;
        for (const Term& t : rule.terms) {
            if (t.op == "==" || t.op == "!=")
                continue;
            if (t.key == "ENV" && t.op == "=")
                device.env[t.attribute] = t.value;
            else if (t.key == "TAG" && t.op == "+=")
                device.tags.insert(t.value);
            else if (t.key == "GOTO" && t.op == "=") {
                size_t target = i;
                for (size_t j = i + 1; j < rules.size(); ++j)
                    for (const Term& l : rules[j].terms)
                        if (l.key == "LABEL" && l.value == t.value)
                            target = j;
                EXPECT_NE(target, i) << "line " << rule.line << ": no label " << t.value << " after it";
                i = target;
            } else if (t.key == "LABEL") {
            } else {
                ADD_FAILURE() << "line " << rule.line << ": unknown assignment " << t.key << t.op;
            }
        }
    }
}

std::string hex4(uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", id);
    return text;
}

Attributes usbDevice(uint16_t vendor, uint16_t product) {
    return {{"idVendor", hex4(vendor)}, {"idProduct", hex4(product)}};
}

const Attributes kRootHub = usbDevice(0x1d6b, 0x0002);
const Attributes kKeyboardHub = usbDevice(QXDeviceDiscovery::kHubVendor, QXDeviceDiscovery::kHubProduct);

Device hidraw(uint16_t vendor, uint16_t product, bool belowKeyboardHub) {
    Device d;
    d.subsystem = "hidraw";
    d.chain = {{}, {}, {{"bInterfaceNumber", "01"}}, usbDevice(vendor, product)};
    if (belowKeyboardHub)
        d.chain.push_back(kKeyboardHub);
    d.chain.push_back(kRootHub);
    return d;
}

// A disk as usb-storage and 60-persistent-storage.rules leave it: ID_VENDOR and ID_MODEL
// with spaces as "_", in the case the disk reports.
Device disk(const std::string& vendor, const std::string& model, bool belowKeyboardHub) {
    Device d;
    d.subsystem = "block";
    d.env = {{"ID_VENDOR", vendor}, {"ID_MODEL", model}, {"DEVTYPE", "disk"}};
    d.chain = {{}, {}, {}, {}, {{"bInterfaceNumber", "00"}}, usbDevice(0x1fc9, 0x0005)};
    if (belowKeyboardHub)
        d.chain.push_back(kKeyboardHub);
    d.chain.push_back(kRootHub);
    return d;
}

bool seatUserGetsAccess(const std::vector<Rule>& rules, Device device) {
    apply(rules, device);
    return device.tags.count("uaccess") == 1;
}

} // namespace

TEST(UdevRuleTest, TheSeatsUserGetsTheKeyboardsInterfacesAndDiskAndNothingElse) {
    const std::vector<Rule> rules =
        parseRules(qxtest::readFile(QX_SOURCE_DIR "/packaging/udev/70-tessera-quadrix.rules"));
    ASSERT_GT(rules.size(), 5u);
    using namespace QXDeviceDiscovery;

    // Both report interfaces of a keyboard; not the same ids elsewhere (04d9:0022 is a
    // common keyboard chip), nor another device below the keyboard's hub.
    EXPECT_TRUE(seatUserGetsAccess(rules, hidraw(kSignallingVendor, kSignallingProduct, true)));
    EXPECT_TRUE(seatUserGetsAccess(rules, hidraw(kReportVendor, kReportProduct, true)));
    EXPECT_FALSE(seatUserGetsAccess(rules, hidraw(kSignallingVendor, kSignallingProduct, false)));
    EXPECT_FALSE(seatUserGetsAccess(rules, hidraw(0x046d, 0xc52b, true)));

    // The disk under each identity the program recognises, in the case udev reports it,
    // and marked for the user's automounter; another disk below the hub stays the system's.
    for (const auto& [vendor, model] : std::vector<std::pair<std::string, std::string>>{
             {"Quadrix", "Disk"}, {"HVN", "Quadrix_Disk"}, {"NXP_Semi", "LPC288x"}, {"HALVORN", "TQ113_V.DISK"}}) {
        std::string upperVendor = vendor, upperModel = model;
        for (std::string* s : {&upperVendor, &upperModel})
            for (char& c : *s)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_TRUE(isKeyboardDisk(upperVendor, upperModel)) << vendor << ' ' << model;
        Device keyboardDisk = disk(vendor, model, true);
        apply(rules, keyboardDisk);
        EXPECT_TRUE(keyboardDisk.tags.count("uaccess")) << vendor << ' ' << model;
        EXPECT_EQ(keyboardDisk.env["UDISKS_SYSTEM"], "0") << vendor << ' ' << model;
        EXPECT_FALSE(seatUserGetsAccess(rules, disk(vendor, model, false))) << "not below the hub";
    }
    EXPECT_FALSE(seatUserGetsAccess(rules, disk("SanDisk", "Cruzer", true)));

    Device removed = hidraw(kReportVendor, kReportProduct, true);
    removed.action = "remove";
    EXPECT_FALSE(seatUserGetsAccess(rules, removed));
}
