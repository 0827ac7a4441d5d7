#include "commands.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    CLI::App app{"kovra: settings check, formula calculator, link and log tools for Kovra Logger"};
    app.require_subcommand(1);
    kovra::cli::AddSettingsCommand(app);
    kovra::cli::AddCalcCommand(app);
    kovra::cli::AddPollCommand(app);
    kovra::cli::AddEcuSimCommand(app);
    kovra::cli::AddRecordCommand(app);
    kovra::cli::AddExportCommand(app);
    kovra::cli::AddPortsCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::RuntimeError& e) {
        return e.get_exit_code();
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kovra: %s\n", e.what());
        return 3;
    }
    return 0;
}
