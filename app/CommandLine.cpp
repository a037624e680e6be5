#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace {

const QString kProgram = QStringLiteral("orvane-softphone");

// Qt's window-system options and whether each takes a value; QApplication reads them itself.
struct QtOption {
    const char* name;
    bool value;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"display", true},         {"geometry", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"name", true},
    {"title", true},           {"style", true},
    {"stylesheet", true},      {"session", true},
    {"reverse", false},        {"widgetcount", false},
};

QStringList WithoutQtOptions(const QStringList& arguments) {
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        bool qt = false;
        for (const QtOption& o : kQtOptions) {
            const QString name = QLatin1Char('-') + QLatin1String(o.name);
            if (a == name || a == QLatin1Char('-') + name) {
                qt = true;
                if (o.value)
                    ++i;
                break;
            }
            if (o.value &&
                (a.startsWith(name + QLatin1Char('=')) || a.startsWith(QLatin1Char('-') + name + '=')))
                qt = true;
        }
        if (!qt)
            kept << a;
    }
    return kept;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments, const QString& version) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A softphone for the Orvane prepaid calling service.\n\n"
        "Given a sip:, sips:, tel: or callto: link, it calls the link's number once logged in;\n"
        "digits after a comma (tel:+49301234567,,555555#) are sent as tones once the call is\n"
        "connected, each comma a 2-second pause. With the phone already running, the link is\n"
        "handed to it."));
    // Not addHelpOption(): its --help-all would promise Qt's own options, which are not read here.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help and exits."));
    const QCommandLineOption version_({QStringLiteral("v"), QStringLiteral("version")},
                                      QStringLiteral("Displays the version and exits."));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Writes registration, network and call events to <file> (added to its end),\n"
                       "for example to send when calls do not arrive. ORVANE_LOG_FILE does the same."),
        QStringLiteral("file"));
    parser.addOption(help);
    parser.addOption(version_);
    parser.addOption(log);
    parser.addPositionalArgument(QStringLiteral("link"), QStringLiteral("The link to call."),
                                 QStringLiteral("[link]"));

    CommandLine out;
    const QString tryHelp = QStringLiteral("Try '%1 --help' for more information.\n").arg(kProgram);
    if (!parser.parse(WithoutQtOptions(arguments))) {
        out.action = CommandLine::Action::Error;
        out.output = QStringLiteral("%1: %2\n").arg(kProgram, parser.errorText()) + tryHelp;
        return out;
    }
    if (parser.isSet(help)) {
        out.action = CommandLine::Action::Help;
        // The usage line names this program, whatever process reads the command line.
        const QString text = parser.helpText();
        out.output =
            QStringLiteral("Usage: %1 [options] [link]").arg(kProgram) + text.mid(text.indexOf(u'\n'));
        return out;
    }
    if (parser.isSet(version_)) {
        out.action = CommandLine::Action::Version;
        out.output = QStringLiteral("%1 %2\n").arg(kProgram, version);
        return out;
    }
    const QStringList links = parser.positionalArguments();
    if (links.size() > 1) {
        out.action = CommandLine::Action::Error;
        out.output =
            QStringLiteral("%1: one link at a time, not %2.\n").arg(kProgram).arg(links.size()) + tryHelp;
        return out;
    }
    if (!links.isEmpty())
        out.link = links.first();
    out.logFile = parser.value(log);
    return out;
}
