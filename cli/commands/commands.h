#pragma once

class CommandContext;

// The commands of indicator-cli, a file each; each returns its exit status.
namespace Commands {

int list(CommandContext &context);
int read(CommandContext &context);
int write(CommandContext &context);
int save(CommandContext &context);
int compare(CommandContext &context);
int load(CommandContext &context);
int scan(CommandContext &context);
int watch(CommandContext &context);
int test(CommandContext &context);
int listen(CommandContext &context);
int serve(CommandContext &context);
int completion(CommandContext &context);

} // namespace Commands
