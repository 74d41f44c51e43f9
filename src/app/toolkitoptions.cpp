#include "app/toolkitoptions.h"

namespace {

struct ToolkitOption
{
    const char *name;
    bool takesValue; // as "-name value" or "-name=value"
};

// QGuiApplication's and QApplication's options and the X11 ones, as Qt
// documents them; Qt takes each with one dash or two.
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"session", true},
    {"display", true},         {"geometry", true},
    {"style", true},           {"stylesheet", true},
    {"qmljsdebugger", true},   {"dialogs", true},
    {"fontengine", true},      {"reverse", false},
    {"widgetcount", false},
};

// The toolkit option an argument names ("-style", "--style", "-style=x"),
// or null.
const ToolkitOption *toolkitOption(const QString &argument)
{
    if (!argument.startsWith(QLatin1Char('-')))
        return nullptr;
    QString name = argument.section(QLatin1Char('='), 0, 0).mid(1);
    if (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    for (const ToolkitOption &option : kToolkitOptions) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

} // namespace

QStringList withoutToolkitOptions(const QStringList &arguments)
{
    QStringList kept = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const ToolkitOption *option = toolkitOption(argument);
        const bool inlineValue = argument.contains(QLatin1Char('='));
        if (!option || (!option->takesValue && inlineValue))
            kept << argument;
        else if (option->takesValue && !inlineValue) {
            if (i + 1 < arguments.size())
                ++i; // its value
            else
                kept << argument;
        }
    }
    return kept;
}
