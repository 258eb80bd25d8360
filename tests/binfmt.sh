#!/bin/sh
# Lets the kernel start this cross build's programs, as the tool starts its children: registers
# the qemu-user handler with binfmt_misc where it is not yet (as root; Debian's binfmt-support
# knows qemu-user-static's handlers). Never fails: where it cannot, the end-to-end tests skip and
# say why.
#   binfmt.sh PROGRAM HANDLER   PROGRAM built for the target; HANDLER e.g. qemu-aarch64
program=$1 handler=$2
if "$program" >/dev/null 2>&1; then
  echo "binfmt_misc starts $(basename "$program") already"
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: not root, so $handler cannot be registered with binfmt_misc"
  exit 0
fi
folder=/proc/sys/fs/binfmt_misc
[ -e "$folder/register" ] || mount -t binfmt_misc binfmt_misc "$folder" ||
  echo "SKIP: binfmt_misc cannot be mounted here"
update-binfmts --import "$handler" 2>/dev/null  # done when qemu-user-static was installed, if it could
update-binfmts --enable "$handler" || echo "SKIP: update-binfmts cannot enable $handler"
if "$program" >/dev/null 2>&1; then
  echo "registered $handler with binfmt_misc"
else
  echo "SKIP: the kernel still cannot start $(basename "$program")"
fi
