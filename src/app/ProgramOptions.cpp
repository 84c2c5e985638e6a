#include "app/ProgramOptions.h"

namespace pelio::app {

OptionChoice FindProgramOption(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (!argument.startsWith(QLatin1String("--"))) continue;
        if (argument == QLatin1String("--help")) return {ProgramOption::Help, argument};
        if (argument == QLatin1String("--version")) return {ProgramOption::Version, argument};
        return {ProgramOption::Unknown, argument};
    }
    return {};
}

QString UsageText(const QString& program) {
    return QStringLiteral(
               "사용법: %1 [회사코드/회사이름/고객이름/전화번호/계정]\n"
               "        %1 review\n"
               "        %1 --help | --version\n"
               "\n"
               "원격지원을 받습니다. 명령줄은 \"/\"로 나눈 다섯 칸이며, 회사 이름의 \"+\"는 빈칸이 됩니다.\n"
               "review는 원격지원 받은 이력(대화 내용과 화면 녹화)을 봅니다.\n"
               "--help     이 도움말을 보이고 끝냅니다.\n"
               "--version  판 번호를 보이고 끝냅니다.\n")
        .arg(program);
}

}  // namespace pelio::app
