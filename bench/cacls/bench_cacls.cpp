// The permission fix as the directory update runs it: the tool started twice per
// home folder (the user, then the administrators' group), for N home folders.
//   bench_cacls [N]            local folders under /tmp (accounts daemon, nogroup)
//   bench_cacls [N] --smb      the Samba DC fixture's homes$ share, which must be running:
//                              DC_DIR=build/samba-dc scripts/directory/samba-dc.sh setup
// Each home folder holds 4 folders and 8 files, like a small migrated home.
#include "cacls/ChildProcess.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void check(const cacls::ChildResult& run, const std::string& what)
{
    if (!run.started || run.exitCode != 0) {
        std::cerr << what << " failed (" << run.exitCode << "): " << run.out << run.err << "\n";
        std::exit(1);
    }
}

// Runs the tool for every folder, twice as the update does; returns the seconds taken.
double fixAll(const std::vector<std::string>& folders, const std::vector<std::string>& accounts, bool oneCall)
{
    const auto start = Clock::now();
    for (const std::string& folder : folders) {
        if (oneCall) {
            std::vector<std::string> argv{CACLS_TOOL, folder, "/e", "/g"};
            for (const std::string& account : accounts)
                argv.push_back(account + ":F");
            check(cacls::runChild(argv), folder);
            continue;
        }
        for (const std::string& account : accounts)
            check(cacls::runChild({CACLS_TOOL, folder, "/e", "/g", account + ":F"}), folder);
    }
    return secondsSince(start);
}

void report(const char* label, double seconds, std::size_t folders, std::size_t calls)
{
    std::printf("%-46s %7.2f s  %7.1f ms per home folder  %6.1f ms per call\n", label, seconds,
                1000.0 * seconds / static_cast<double>(folders), 1000.0 * seconds / static_cast<double>(calls));
}

void seedLocal(const fs::path& home)
{
    for (const char* sub : {"Documents/Year7", "Pictures", "Music"})
        fs::create_directories(home / sub);
    for (const char* file : {"readme.txt", "Documents/essay.txt", "Documents/notes.txt", "Documents/Year7/a.txt",
                             "Documents/Year7/b.txt", "Pictures/p1.jpg", "Pictures/p2.jpg", "Music/m.mp3"})
        std::ofstream(home / file) << "content\n";
}

int benchLocal(int count)
{
    char pattern[] = "/tmp/bench-cacls.XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const fs::path root = pattern;
    std::vector<std::string> folders;
    for (int i = 0; i < count; ++i) {
        folders.push_back((root / ("user" + std::to_string(i))).string());
        seedLocal(folders.back());
    }
    const std::vector<std::string> accounts{"daemon", "nogroup"};
    std::printf("local: %d home folders of 13 objects in %s\n", count, root.c_str());
    report("two calls per folder (as the update runs it)", fixAll(folders, accounts, false), folders.size(),
           folders.size() * 2);
    report("again, nothing left to change", fixAll(folders, accounts, false), folders.size(), folders.size() * 2);
    fs::remove_all(root);
    return 0;
}

std::map<std::string, std::string> readEnv(const std::string& file)
{
    std::map<std::string, std::string> env;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && eq > 0)
            env[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return env;
}

int benchSmb(int count)
{
    const char* dcDir = std::getenv("DC_DIR");
    auto env = readEnv(std::string(dcDir ? dcDir : SAMBA_DC_DIR) + "/env");
    if (env.empty()) {
        std::cerr << "no fixture env file: start it with DC_DIR=build/samba-dc scripts/directory/samba-dc.sh setup\n";
        return 1;
    }
    for (const char* key : {"KRB5_CONFIG", "KRB5CCNAME", "SMB_CONF_PATH", "NSS_WRAPPER_HOSTS"})
        setenv(key, env[key].c_str(), 1);
    // Only the children need the server's name resolved through nss_wrapper.
    setenv("LD_PRELOAD", env["DC_NSS_WRAPPER_SO"].c_str(), 1);

    // Seed over SMB in one session, as a migration through the share would.
    const std::string file = env["DC_DIR"] + "/bench-file.txt";
    std::ofstream(file) << "content\n";
    std::string commands;
    std::vector<std::string> folders;
    for (int i = 0; i < count; ++i) {
        const std::string home = "bench-user" + std::to_string(i);
        commands += "mkdir " + home + "; cd " + home +
                    "; mkdir Documents; mkdir Documents\\Year7; mkdir Pictures; mkdir Music; put " + file +
                    " readme.txt; put " + file + " Documents\\essay.txt; put " + file + " Documents\\notes.txt; put " +
                    file + " Documents\\Year7\\a.txt; put " + file + " Documents\\Year7\\b.txt; put " + file +
                    " Pictures\\p1.jpg; put " + file + " Pictures\\p2.jpg; put " + file + " Music\\m.mp3; cd \\; ";
        folders.push_back(env["DC_HOMES_UNC"] + "\\" + home);
    }
    auto start = Clock::now();
    check(cacls::runChild({"smbclient", "-s", env["SMB_CONF_PATH"], "--use-kerberos=required", "-N",
                           env["DC_SMB_SHARE"], "-c", commands}),
          "seeding over SMB");
    std::printf("smb: %d home folders of 13 objects seeded over SMB in %.1f s\n", count, secondsSince(start));

    // The seeded domain's users stand in for the owners of the folders: the work per
    // folder (name lookup, read, write, propagation) does not depend on which user it is.
    const std::vector<std::string> users{"jbloggs", "asmith", "t.brown", "s.green", "k.white", "y7.adams", "y8.davis"};
    start = Clock::now();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        check(cacls::runChild({CACLS_TOOL, folders[i], "/e", "/g", users[i % users.size()] + ":F"}), folders[i]);
        check(cacls::runChild({CACLS_TOOL, folders[i], "/e", "/g", env["DC_ADMIN_GROUP"] + ":F"}), folders[i]);
    }
    report("two calls per folder (as the update runs it)", secondsSince(start), folders.size(), folders.size() * 2);
    start = Clock::now();
    for (std::size_t i = 0; i < 2 * folders.size(); ++i)
        check(cacls::runChild({"klist", "-s"}), "klist");
    report("of which the ticket checks (klist -s)", secondsSince(start), folders.size(), folders.size() * 2);
    report("both accounts in one call, already granted", fixAll(folders, {"jbloggs", env["DC_ADMIN_GROUP"]}, true),
           folders.size(), folders.size());

    for (int i = 0; i < count; ++i)
        fs::remove_all(fs::path(env["DC_HOMES_DIR"]) / ("bench-user" + std::to_string(i)));
    fs::remove(file);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int count = 200;
    bool smb = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--smb")
            smb = true;
        else
            count = std::atoi(argv[i]);
    }
    return smb ? benchSmb(count) : benchLocal(count);
}
