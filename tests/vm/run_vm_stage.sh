#!/bin/sh
# Runs the placement cases (guest_init.sh) in virtual machines with 2, 4 and 65 NUMA nodes, and in
# one with nodes of memory only and of CPUs only, on a Debian kernel taken from the archive, and
# fails if any case fails.
#   run_vm_stage.sh BUILD_DIR   BUILD_DIR holds the static nodestart and numa_probe
#   NODESTART_VM_KVM            auto (default): KVM where a short trial boots, else plain
#                               emulation; off: plain emulation only; stuck: the trial's guest is
#                               frozen, as a guest stuck under KVM is, to exercise the fallback
# Exits 77 (skipped) only when qemu cannot start at all.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work=$build/vm
mkdir -p "$work"

"$here/../../scripts/install-deps.sh" vm

# The kernel that Debian's linux-image-amd64 depends on now, unpacked here, never installed.
kernel=$(ls "$work"/kernel/boot/vmlinuz-* 2>/dev/null | head -n 1 || true)
if [ -z "$kernel" ]; then
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
  if [ -z "$package" ]; then
    apt-get update -q >/dev/null
    package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ { print $2; exit }')
  fi
  rm -rf "$work/download" && mkdir -p "$work/download"
  (cd "$work/download" && apt-get download -q "$package" 2>/dev/null)
  dpkg-deb -x "$work"/download/*.deb "$work/kernel"
  rm -rf "$work/download"
  kernel=$(ls "$work"/kernel/boot/vmlinuz-* | head -n 1)
fi

# The initramfs: busybox, the tool, the probe, and numactl with the libraries it loads.
root=$work/initramfs
rm -rf "$root" && mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/tmp" "$root/dev"
cp /bin/busybox "$root/bin/busybox"
cp "$here/guest_init.sh" "$root/init"
cp "$build/nodestart" "$root/bin/nodestart"
cp "$build/numa_probe" "$root/probe"
cp "$(command -v numactl)" "$root/bin/numactl"
for library in $(ldd "$(command -v numactl)" | awk '/\// { for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i }'); do
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

kvm_mode=${NODESTART_VM_KVM:-auto}
case "$kvm_mode" in
  auto | off | stuck) ;;
  *) echo "FAIL: NODESTART_VM_KVM is auto, off or stuck, not '$kvm_mode'" && exit 1 ;;
esac
# Once a KVM guest has failed to boot, the machine's KVM is not trusted again in this run.
kvm_failed=""
trial_seconds=30  # a guest's init reports in about 10 s under either accelerator
machine_seconds=120  # plain emulation boots and runs a machine in about 15 s

# boot_vm ACCEL LOG QEMU_ARGUMENTS...: runs the machine to its end, or ends it when its init has
# not reported within the trial's deadline (ACCEL trial or stuck-trial) or it overruns its time.
boot_vm() {
  accel=$1 log=$2
  shift 2
  case "$accel" in
    trial) set -- -accel kvm -cpu host "$@" ;;
    # A guest that never runs: qemu up, its CPU stopped, as KVM leaves a stuck guest here.
    stuck-trial) set -- -accel tcg -S "$@" ;;
    tcg) set -- -accel tcg "$@" ;;
  esac
  timeout "$machine_seconds" qemu-system-x86_64 "$@" </dev/null >"$log" 2>&1 &
  qemu=$!
  if [ "$accel" != tcg ]; then
    waited=0
    while ! grep -q '^vm: ' "$log" && kill -0 "$qemu" 2>/dev/null; do
      if [ "$waited" -ge "$trial_seconds" ]; then
        kill "$qemu" && wait "$qemu" || true
        echo "no report from the guest's init within $trial_seconds s" >>"$log"
        return 1
      fi
      sleep 1 && waited=$((waited + 1))
    done
  fi
  wait "$qemu" || true
  grep -q '^vm: done' "$log"
}

# run_vm NAME SETTINGS NODE...: boots a machine whose NUMA nodes are given in turn as MIB:CPU
# (MIB 0: a node without memory; CPU -: a node without a CPU), and hands SETTINGS to its init.
run_vm() {
  name=$1 settings=$2
  shift 2
  log=$work/vm-$(echo "$name" | tr ' ' -).log
  numa="" total_mib=0 cpus=0 node=0
  for spec in "$@"; do
    mib=${spec%%:*} cpu=${spec#*:}
    numa_node="node,nodeid=$node"
    if [ "$cpu" != - ]; then
      numa_node="$numa_node,cpus=$cpu"
      cpus=$((cpus + 1))
    fi
    if [ "$mib" -gt 0 ]; then
      numa="$numa -object memory-backend-ram,id=m$node,size=${mib}M"
      numa_node="$numa_node,memdev=m$node"
      total_mib=$((total_mib + mib))
    fi
    numa="$numa -numa $numa_node"
    node=$((node + 1))
  done
  # shellcheck disable=SC2086 # the NUMA options hold no spaces
  set -- -m "${total_mib}M" -smp "$cpus" -kernel "$kernel" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet $settings" -nographic -no-reboot $numa
  vm_started=$(date +%s)
  # KVM is tried with no more CPUs than this machine has: more hang here.
  trial=""
  if [ -z "$kvm_failed" ] && [ "$cpus" -le "$(nproc)" ]; then
    [ "$kvm_mode" = stuck ] && trial=stuck-trial
    [ "$kvm_mode" = auto ] && [ -w /dev/kvm ] && trial=trial
  fi
  accel=tcg
  if [ -n "$trial" ] && boot_vm "$trial" "$log" "$@"; then
    accel=kvm
  else
    if [ -n "$trial" ]; then
      qemu_said=$(grep -m 1 '^no report' "$log" || grep -m 1 'qemu-system-x86_64:' "$log" ||
        echo "the guest's init never finished")
      echo "[$name, kvm] failed after $(( $(date +%s) - vm_started )) s ($qemu_said):" \
        "plain emulation from here on"
      kvm_failed=yes
    fi
    boot_vm tcg "$log" "$@" || true
  fi
  if ! grep -q '^vm: ' "$log"; then
    if grep -q 'qemu-system-x86_64:' "$log"; then
      echo "SKIP: qemu cannot start a virtual machine here:" && tail -n 5 "$log"
      exit 77
    fi
    echo "FAIL: the machine with $name never reached its init" && tail -n 20 "$log"
    return 1
  fi
  tr -d '\r' <"$log" | grep -E '^(vm:|ok |not ok |#)' | sed "s/^/[$name, $accel] /"
  echo "[$name, $accel] vm: $(( $(date +%s) - vm_started )) s"
  grep -q '^vm: done' "$log" && ! grep -q '^not ok ' "$log"
}

# uniform NODES MIB CPUS: NODES nodes of MIB MiB each, the first CPUS of them with a CPU each.
uniform() {
  node=0
  while [ "$node" -lt "$1" ]; do
    if [ "$node" -lt "$3" ]; then echo "$2:$node"; else echo "$2:-"; fi
    node=$((node + 1))
  done
}

started=$(date +%s)
result=0
# shellcheck disable=SC2046 # one word a node
run_vm "2 nodes" VM_MISSING_NODES=2,7 $(uniform 2 1024 2) || result=1
# shellcheck disable=SC2046
run_vm "4 nodes" VM_MISSING_NODES=4 $(uniform 4 1024 4) || result=1
# shellcheck disable=SC2046
run_vm "65 nodes" VM_WIDE=1 $(uniform 65 128 2) || result=1
# Node 1 has CPUs and no memory (as on some AMD and POWER machines), node 2 memory and no CPUs
# (as HBM, CXL memory or a GPU's memory shows).
run_vm "mixed nodes" VM_MIXED=1 1024:0 0:1 1024:- || result=1
echo "VM stage: $(( $(date +%s) - started )) s"
exit "$result"
