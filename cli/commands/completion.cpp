// indicator-cli completion: the bash completion script, written by the program from its own tables and
// the catalogue, so that the commands, options and keys it completes are never listed a second time.
#include "catalogue.h"
#include "commandline.h"
#include "context.h"
#include "exitstatus.h"
#include "commands.h"
#include "linesettings.h"

namespace {

QString words(const QStringList &list)
{
    return list.join(u' ');
}

QStringList keys(bool writableOnly)
{
    QStringList keys;
    for (const Catalogue::Parameter &parameter : Catalogue::parameters()) {
        if (!writableOnly || parameter.writable)
            keys << (writableOnly ? parameter.key + u'=' : parameter.key);
    }
    return keys;
}

QString bashCompletion()
{
    QStringList valued;
    QStringList allOptions = CommandLine::options();
    for (const QString &command : CommandLine::commands())
        allOptions += CommandLine::options(command);
    allOptions.removeDuplicates(); // an option of several commands
    for (const QString &option : std::as_const(allOptions)) {
        if (CommandLine::takesValue(option))
            valued << option;
    }
    // Values of these are numbers to type: nothing to offer.
    QStringList numberOptions = valued;
    for (const char *line : {"--port", "--baud", "--parity", "--stop-bits"})
        numberOptions.removeAll(QLatin1String(line));
    QStringList bauds;
    for (quint32 baud : LineSettings::BaudRates)
        bauds << QString::number(baud);
    QStringList parities;
    for (const char *name : LineSettings::ParityNames)
        parities << QLatin1String(name);

    QString perCommand;
    for (const QString &command : CommandLine::commands()) {
        QString extra;
        if (command == QLatin1String("read"))
            extra = QStringLiteral("$keys");
        else if (command == QLatin1String("completion"))
            extra = QStringLiteral("bash");
        perCommand += QStringLiteral("        %1) options=\"%2\"; extra=\"%3\" ;;\n")
                          .arg(command, words(CommandLine::options(command)), extra);
    }

    return QStringLiteral(R"(# bash completion for indicator-cli; written by "indicator-cli completion bash".
_indicator_cli()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion -n = || return
    else # without the bash-completion package
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    fi
    local commands="%1"
    local global="%2"
    local keys="%3"
    local writable="%4"
    case $prev in
        --port) COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}")); return ;;
        --baud) COMPREPLY=($(compgen -W "%5" -- "$cur")); return ;;
        --parity) COMPREPLY=($(compgen -W "%6" -- "$cur")); return ;;
        --stop-bits) COMPREPLY=($(compgen -W "1 2" -- "$cur")); return ;;
        %7) return ;;
    esac
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            %8) ((i++)) ;;
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands $global" -- "$cur"))
        return
    fi
    local options="" extra=""
    case $command in
%9    esac
    case $command in
        write)
            COMPREPLY=($(compgen -W "$writable" -- "$cur"))
            [[ ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
            ;;
        save|compare|load)
            COMPREPLY=($(compgen -W "$options $global" -- "$cur"))
            [[ $cur == -* ]] || COMPREPLY+=($(compgen -f -- "$cur"))
            ;;
        *) COMPREPLY=($(compgen -W "$options $global $extra" -- "$cur")) ;;
    esac
}
complete -F _indicator_cli indicator-cli
)")
        .arg(words(CommandLine::commands()), words(CommandLine::options()), words(keys(false)), words(keys(true)),
             words(bauds), words(parities), numberOptions.join(u'|'),
             valued.join(u'|'), perCommand);
}

} // namespace

int Commands::completion(CommandContext &context)
{
    if (context.invocation().arguments.first() != QLatin1String("bash"))
        return context.usage(QStringLiteral("completion takes bash"));
    context.printer().verbatim(bashCompletion());
    return ExitStatus::Success;
}
