#pragma once

#include <filesystem>
#include <string>
#include <tinyxml.h>

// A TinyXML document bound to the file it is read from and written to.
class QXXmlDocument : public TiXmlDocument {
public:
    explicit QXXmlDocument(std::filesystem::path path);

    const std::filesystem::path& path() const { return m_path; }

    // Reads and parses the file. False for a file that is missing, unreadable, larger
    // than 64 MiB, nested deeper than 512 elements, or not well-formed XML.
    bool load();
    // Parses text held in memory, with the same limits as load.
    bool parseText(std::string text);
    // Prints the document and replaces the file atomically. False on any write error;
    // the old file then stays as it was.
    bool save() const;
    // The document as TinyXML prints it.
    std::string print() const;

    // TinyXML's global settings the program relies on: whitespace inside values is
    // kept exactly as stored. Called by every reader; safe from any thread.
    static void configureTinyXml();

private:
    std::filesystem::path m_path;
};

// True when TinyXML would nest deeper than maxDepth while parsing the text, or when the
// text is not well-formed UTF-8 or uses markup the check cannot follow exactly (unquoted
// attribute values, constructs TinyXML fails on). TinyXML parses recursively, so such
// documents are refused before they reach it, whatever they hold before their root.
bool xmlNestingExceeds(const std::string& text, int maxDepth);
