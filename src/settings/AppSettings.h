#pragma once

#include <QLatin1String>
#include <QString>

// The program's two settings as the settings file holds them. Callers load()
// them at the moment they need them and keep nothing between uses, so what the
// settings form saves counts from the next load(), in this process or another.
struct AppSettings {
    QString adminGroup; // the administrators' group, granted rights on new home folders
    QString userPath;   // the root of the users' home folders; the logon name is appended to it
    QString loadError;  // why load() could not read the file (too large); "" otherwise

    // Where they sit in the file, for messages that tell the operator.
    static constexpr QLatin1String kSection{"SETTINGS"};
    static constexpr QLatin1String kAdminGroupKey{"AdmGrp"};
    static constexpr QLatin1String kUserPathKey{"UserPath"};

    // settings/corvane.ini in the application folder, built afresh on each call.
    static QString file();

    // Both values; a missing file, section or key gives an empty value.
    static AppSettings load();
    static AppSettings load(const QString& file);

    // Writes the group, then the path (the order a new file holds them in).
    // A value longer than modINI::MaxValueLength is refused before anything is
    // written, as it could not be read back whole. Returns false with the reason
    // in *error on any failure.
    bool save(QString* error = nullptr) const;
    bool save(const QString& file, QString* error = nullptr) const;
};
