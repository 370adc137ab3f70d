#include "RunScript.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef VELMORA_APP_FROM_LAUNCHER
#define VELMORA_APP_FROM_LAUNCHER "../lib/tamsweld/Tamsweld"
#endif

namespace velmora::loader {

namespace {

std::string Get(const Environment& env, const char* name) {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
}

bool PlainCode(const std::string& code) {
    if (code.empty())
        return false;
    for (unsigned char c : code) {
        if (c <= 0x20 || c >= 0x7f)
            return false;
    }
    return true;
}

std::string Canonical(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string out(real);
    std::free(real);
    return out;
}

}  // namespace

std::string SystemLanguage(const Environment& env) {
    std::string locale;
    std::string list = Get(env, "LANGUAGE");
    locale = list.substr(0, list.find(':'));
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (!locale.empty())
            break;
        locale = Get(env, name);
    }
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX")
        return "en";
    for (char& c : locale) {
        if (c == '_')
            c = '-';
    }
    if (locale == "zh-CN" || locale == "zh-SG")
        return "zh-Hans";
    return locale;
}

// The settings offer languages by display name ("SupportLanguage": name to
// code) and remember the user's choice by that name ("CurLanguage"). Once a
// choice is remembered it holds whatever the system says; until then the
// system language is taken when offered and remembered, and anything else
// falls back to English, remembered as "English". The Telqo brand always
// runs in Japanese.
std::string GetCurrentLanaguage(const std::string& systemLanguage, PrivateData& settings) {
    std::string candidate = "en";
    std::string match = systemLanguage;
    if (systemLanguage == "zh-Hant" || systemLanguage == "zh-HK" || systemLanguage == "zh-MO" ||
        systemLanguage == "zh-TW" || systemLanguage == "zh-Hant-TW") {
        candidate = match = "zh-Hant";
    } else if (systemLanguage == "zh-Hans") {
        candidate = match = "zh-Hans";
    } else if (systemLanguage == "pt") {
        candidate = match = "pt-BR";
    }

    if (settings.Has("Telqo"))
        return "ja";

    const auto offered = settings.StringPairs("SupportLanguage");
    if (auto current = settings.String("CurLanguage")) {
        for (const auto& [name, code] : offered) {
            if (name == *current)
                return code;
        }
        return candidate;
    }

    // A locale here always names a region (de-DE); when the settings offer
    // only the bare language, that is the user's language all the same.
    std::vector<std::string> wanted{match};
    if (auto dash = match.find('-'); dash != std::string::npos && candidate == "en")
        wanted.push_back(match.substr(0, dash));
    const bool remember = settings.Exists();
    std::string result = candidate;
    bool found = false;
    for (const auto& code : wanted) {
        for (const auto& [name, value] : offered) {
            if (value == code) {
                if (remember)
                    settings.SetString("CurLanguage", name);
                result = value;
                found = true;
                break;
            }
        }
        if (found)
            break;
    }
    if (result == "en" && remember)
        settings.SetString("CurLanguage", "English");
    return result;
}

bool PolicyNamesProgram(const std::string& actionsFolder, const std::string& appPath) {
    std::ifstream in(actionsFolder + "/" + kPolicyActionId + ".policy");
    if (!in)
        return false;
    std::stringstream text;
    text << in.rdbuf();
    const std::string annotation =
        "<annotate key=\"org.freedesktop.policykit.exec.path\">" + appPath + "</annotate>";
    return text.str().find(annotation) != std::string::npos;
}

LaunchPlan PlanLaunch(const std::string& appPath, const std::string& language,
                      const std::string& rsfPath, const Environment& env,
                      const LaunchTools& tools) {
    LaunchPlan plan;
    plan.env = env;
    if (appPath.empty() || appPath[0] != '/') {
        plan.error = "the program's path is not absolute: " + appPath;
        return plan;
    }
    // Without an explicit authority file, X clients read ~/.Xauthority, and
    // root's home is not the user's.
    const std::string home = Get(env, "HOME");
    if (Get(env, "XAUTHORITY").empty() && !home.empty() &&
        access((home + "/.Xauthority").c_str(), R_OK) == 0)
        plan.env["XAUTHORITY"] = home + "/.Xauthority";
    plan.grantXWayland = !Get(env, "WAYLAND_DISPLAY").empty() && !Get(env, "DISPLAY").empty();

    plan.argv.push_back(tools.pkexec);
    if (!PolicyNamesProgram(tools.polkitActions, appPath)) {
        // env would take a program path holding "=" for one more assignment.
        if (appPath.find('=') != std::string::npos) {
            plan.argv.clear();
            plan.error = "the program's path holds \"=\": " + appPath;
            return plan;
        }
        plan.argv.push_back(tools.env);
        for (const char* name : {"DISPLAY", "XAUTHORITY"}) {
            if (auto value = Get(plan.env, name); !value.empty())
                plan.argv.push_back(std::string(name) + "=" + value);
        }
    }
    plan.argv.push_back(appPath);
    // A code that is not plain ASCII cannot be handed on; the application
    // would otherwise start without a language and call us again.
    plan.argv.push_back((PlainCode(language) ? language : std::string("en")) + kLoaderFlag);
    if (!rsfPath.empty())
        plan.argv.push_back(rsfPath);
    return plan;
}

int RunTool(const LaunchPlan& plan, const LaunchTools& tools) {
    if (plan.argv.empty()) {
        std::fprintf(stderr, "VexaLoader: %s\n", plan.error.c_str());
        return -1;
    }
    const std::string rootUser = "si:localuser:root";
    bool granted = false;
    if (plan.grantXWayland) {
        std::string listing;
        const bool known = RunAndWait({tools.xhost}, plan.env, &listing) == 0;
        if (known && listing.find("SI:localuser:root") == std::string::npos)
            granted = RunAndWait({tools.xhost, "+" + rootUser}, plan.env) == 0;
    }
    const int status = RunAndWait(plan.argv, plan.env);
    if (granted)
        RunAndWait({tools.xhost, "-" + rootUser}, plan.env);
    if (status == 126 || status == 127)
        std::fprintf(stderr, "VexaLoader: the administrator right was not given (%d)\n", status);
    return status;
}

std::string FindApplication(const std::string& launcherFolder) {
    for (const std::string relative : {"Tamsweld", VELMORA_APP_FROM_LAUNCHER}) {
        std::string path = Canonical(launcherFolder + "/" + relative);
        if (!path.empty() && access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

}  // namespace velmora::loader
