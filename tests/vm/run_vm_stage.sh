#!/bin/sh
# Runs the placement cases (guest_init.sh) in virtual machines on a Debian kernel taken from the
# archive, and fails if any case fails. x86-64: 2 nodes of 2 CPUs (also under trixie's newer
# kernel), 4 and 65 NUMA nodes, and one with nodes of memory only and of CPUs only; arm64: 2
# nodes, and nodes numbered 0 and 8. All but the trixie and mixed ones carry a network card and
# an NVMe drive on a node of theirs (see run_vm).
#   run_vm_stage.sh BUILD_DIR [ARCH]  BUILD_DIR holds the static nodestart and nodestart-probe for
#                                     ARCH: x86_64 (the default) or aarch64
#   NODESTART_VM_KVM                  auto (default): KVM where a short trial boots, else plain
#                                     emulation; off: plain emulation only; stuck: the trial's
#                                     guest is frozen, as a guest stuck under KVM is, to exercise
#                                     the fallback
# Exits 77 (skipped) only when qemu cannot start at all.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
arch=${2:-x86_64}
work=$build/vm
mkdir -p "$work"

if [ "$arch" = aarch64 ]; then
  debian_arch=arm64 qemu=qemu-system-aarch64 console=ttyAMA0
  "$here/../../scripts/install-deps.sh" arm64
  dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
else
  debian_arch=amd64 qemu=qemu-system-x86_64 console=ttyS0
  "$here/../../scripts/install-deps.sh" vm
fi

# download PACKAGE FOLDER: unpacks the archive's PACKAGE (of this architecture) into FOLDER, never
# installing it. The package lists are brought up to date once, if the package is not in them.
download() {
  rm -rf "$work/download" && mkdir -p "$work/download"
  (cd "$work/download" && apt-get download -q "$1" 2>/dev/null) || {
    apt-get update -q >/dev/null
    (cd "$work/download" && apt-get download -q "$1")
  }
  dpkg-deb -x "$work"/download/*.deb "$2"
  rm -rf "$work/download"
}

# The archive the machine's own apt takes bookworm from.
debian_uri() {
  {
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
      awk '/^$/ { uri = "" } /^URIs:/ { uri = $2 } /^Suites:/ && / bookworm( |$)/ && uri { print uri; exit }'
    grep -hE '^deb +(\[[^]]*\] +)?[a-z]+://[^ ]+ +bookworm ' /etc/apt/sources.list \
      /etc/apt/sources.list.d/*.list 2>/dev/null | sed -E 's/^deb +(\[[^]]*\] +)?([^ ]+).*/\2/'
  } | head -n 1
}

# suite_kernel SUITE: the vmlinuz of the kernel that SUITE's linux-image-ARCH depends on, kept in
# the build folder. apt runs on a configuration of its own there (the machine's archive, SUITE,
# its own lists and cache), so that the machine's sources and lists stay as they are.
suite_kernel() {
  apt_dir=$work/apt-$1
  if ! ls "$apt_dir"/kernel/boot/vmlinuz-* >/dev/null 2>&1; then
    uri=$(debian_uri)
    [ -n "$uri" ] || { echo "FAIL: no Debian archive in the machine's apt sources" >&2; return 1; }
    rm -rf "$apt_dir" && mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/cache"
    printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' "$uri" "$1" \
      /usr/share/keyrings/debian-archive-keyring.gpg >"$apt_dir/sources/$1.sources"
    set -- -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/sources" \
      -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" \
      -o Dir::State::Status=/dev/null -o APT::Architecture="$debian_arch" -o Debug::NoLocking=1 \
      -o APT::Sandbox::User=root
    apt-get "$@" -q update >/dev/null
    package=$(apt-cache "$@" depends "linux-image-$debian_arch" |
      awk '/Depends: linux-image-/ { print $2; exit }')
    (cd "$apt_dir" && apt-get "$@" -q download "$package" >/dev/null)
    dpkg-deb --fsys-tarfile "$apt_dir"/linux-image-*.deb |
      tar -x -C "$apt_dir" --one-top-level=kernel --wildcards './boot/vmlinuz-*'
    rm -rf "$apt_dir"/*.deb "$apt_dir/lists" "$apt_dir/cache"
  fi
  ls "$apt_dir"/kernel/boot/vmlinuz-* | head -n 1
}

# The kernel that Debian's linux-image-ARCH depends on now.
kernel=$(ls "$work"/kernel/boot/vmlinuz-* 2>/dev/null | head -n 1 || true)
if [ -z "$kernel" ]; then
  meta=linux-image-$debian_arch:$debian_arch
  package=$(apt-cache depends "$meta" 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
  if [ -z "$package" ]; then
    apt-get update -q >/dev/null
    package=$(apt-cache depends "$meta" | awk '/Depends: linux-image-/ { print $2; exit }')
  fi
  download "${package%%:*}:$debian_arch" "$work/kernel"
  kernel=$(ls "$work"/kernel/boot/vmlinuz-* | head -n 1)
fi

# The initramfs: busybox, the tool, the probe, and on x86-64 numactl, numastat, GNU time and the
# tests' child with the libraries they load.
root=$work/initramfs
rm -rf "$root" && mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/tmp" "$root/dev"
if [ "$arch" = aarch64 ]; then
  [ -x "$work/busybox/bin/busybox" ] || download busybox-static:arm64 "$work/busybox"
  cp "$work/busybox/bin/busybox" "$root/bin/busybox"
else
  cp /bin/busybox "$root/bin/busybox"
  cp "$(command -v numactl)" "$(command -v numastat)" /usr/bin/time "$build/probe_child" "$root/bin/"
  for library in $(for program in "$root"/bin/numa* "$root"/bin/time "$root/bin/probe_child"; do ldd "$program"; done |
    awk '/\// { for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i }' | sort -u); do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
fi
# Drivers for the machines' devices (see run_vm), from the default kernel's own package: each
# after the modules it needs, as the guest's busybox insmod loads them in the order listed.
modules=$(ls -d "$work"/kernel/lib/modules/* | head -n 1)
with_needs() (
  for module in "$@"; do
    file=$(find "$modules" -name "$module.ko" | head -n 1)
    [ -n "$file" ] || { echo "FAIL: no module $module in $modules" >&2; exit 1; }
    # shellcheck disable=SC2046 # a word a module
    with_needs $(tr '\0' '\n' <"$file" | sed -n 's/^depends=//p' | tr , ' ')
    echo "$file"
  done
)
mkdir -p "$root/lib/modules"
for file in $(with_needs nvme e1000 virtio_pci virtio_net | awk '!seen[$0]++'); do
  cp "$file" "$root/lib/modules/"
  basename "$file" >>"$root/lib/modules/order"
done
cp "$here/guest_init.sh" "$root/init"
cp "$build/nodestart" "$root/bin/nodestart"
cp "$build/nodestart-probe" "$root/probe"
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
# Plain emulation runs the largest machine's cases in about 50 s alone; beside the other tests on
# a slower host one took over 120 s. The bound only ends a guest that hangs.
machine_seconds=300

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
  # The device tree of this very machine and accelerator, its PCI host bridge put on a node.
  if [ "$arch" = aarch64 ] && [ -n "$device_node" ]; then
    "$qemu" "$@" -machine dumpdtb="$work/virt.dtb" >"$log" 2>&1 &&
      fdtput -t u "$work/virt.dtb" "/$(fdtget -l "$work/virt.dtb" / | grep -m 1 '^pcie@')" \
        numa-node-id "$device_node" >>"$log" 2>&1 || return 1
    set -- "$@" -dtb "$work/virt.dtb"
  fi
  timeout "$machine_seconds" "$qemu" "$@" </dev/null >"$log" 2>&1 &
  running=$!
  if [ "$accel" != tcg ]; then
    waited=0
    while ! grep -q '^vm: ' "$log" && kill -0 "$running" 2>/dev/null; do
      if [ "$waited" -ge "$trial_seconds" ]; then
        kill "$running" && wait "$running" || true
        echo "no report from the guest's init within $trial_seconds s" >>"$log"
        return 1
      fi
      sleep 1 && waited=$((waited + 1))
    done
  fi
  wait "$running" || true
  grep -q '^vm: done' "$log"
}

# run_vm NAME SETTINGS NODE...: boots a machine whose NUMA nodes are given in turn as MIB:CPUS
# (MIB 0: a node without memory; CPUS one CPU, a range FIRST-LAST, or - for none), and hands
# SETTINGS to its init. The kernel is $vm_kernel, else the default one.
run_vm() {
  name=$1 settings=$2
  shift 2
  log=$work/vm-$(echo "$name" | tr -c 'a-z0-9\n' -).log
  numa="" total_mib=0 cpus=0 node=0
  for layout in "$@"; do
    mib=${layout%%:*} cpu=${layout#*:}
    numa_node="node,nodeid=$node"
    if [ "$cpu" != - ]; then
      numa_node="$numa_node,cpus=$cpu"
      cpus=$((cpus + ${cpu#*-} - ${cpu%-*} + 1))
    fi
    if [ "$mib" -gt 0 ]; then
      numa="$numa -object memory-backend-ram,id=m$node,size=${mib}M"
      numa_node="$numa_node,memdev=m$node"
      total_mib=$((total_mib + mib))
    fi
    numa="$numa -numa $numa_node"
    node=$((node + 1))
  done
  # VM_DEVICES=NODE: a network card and an NVMe drive on NODE. On x86-64 they sit behind a PCI
  # expander bridge of NODE, whose own bridge makes its bus 0x11, and a virtio network card
  # behind one of node 0 (bus 0x21); the root bus's IDE controller is of no node, the firmware
  # leaving it unsaid (VM_NO_NODE). The arm64 virt machine's device tree
  # describes no expander bridge (its ACPI does, but the UEFI firmware's flash then lies outside
  # every node, and the kernel falls back to one node): there the one host bridge is on NODE,
  # as arm64 servers' device trees put theirs. Their addresses go to the init as VM_NIC,
  # VM_NVME and VM_NIC0; their drivers are in the initramfs.
  device_node=""
  case " $settings " in
    *" VM_DEVICES="*)
      device_node=${settings#*VM_DEVICES=} device_node=${device_node%% *}
      if [ "$arch" = aarch64 ]; then
        settings="$settings VM_NIC=0000:00:01.0 VM_NVME=0000:00:02.0"
      else
        settings="$settings VM_NIC=0000:11:00.0 VM_NVME=0000:11:01.0 VM_NIC0=0000:21:00.0"
        settings="$settings VM_NO_NODE=0000:00:01.1"
      fi
      ;;
  esac
  # shellcheck disable=SC2086 # the NUMA options hold no spaces
  set -- -m "${total_mib}M" -smp "$cpus" -kernel "${vm_kernel:-$kernel}" -initrd "$work/initramfs.gz" \
    -append "console=$console panic=-1 quiet $settings" -nographic -no-reboot $numa
  [ "$arch" = aarch64 ] && set -- -M virt -cpu max "$@"
  if [ -n "$device_node" ]; then
    truncate -s 1M "$work/nvme.img"
    set -- "$@" -netdev user,id=nic1 -drive "file=$work/nvme.img,if=none,id=disk1,format=raw"
    if [ "$arch" = aarch64 ]; then
      set -- "$@" -device e1000,netdev=nic1,addr=1 -device nvme,drive=disk1,serial=nodestart,addr=2
    else
      set -- "$@" -device "pxb,id=expander,bus_nr=16,numa_node=$device_node" \
        -device e1000,netdev=nic1,bus=expander,addr=0 \
        -device nvme-subsys,id=subsystem,nqn=nodestart \
        -device nvme,serial=nodestart,subsys=subsystem,bus=expander,addr=1 \
        -device nvme-ns,drive=disk1,nsid=1 \
        -device pxb,id=expander0,bus_nr=32,numa_node=0,bus=pci.0 \
        -netdev user,id=nic0 -device virtio-net-pci,netdev=nic0,bus=expander0,addr=0
    fi
  fi
  vm_started=$(date +%s)
  # KVM is tried for this machine's own architecture, with no more CPUs than it has: more hang.
  trial=""
  if [ -z "$kvm_failed" ] && [ "$arch" = "$(uname -m)" ] && [ "$cpus" -le "$(nproc)" ]; then
    [ "$kvm_mode" = stuck ] && trial=stuck-trial
    [ "$kvm_mode" = auto ] && [ -w /dev/kvm ] && trial=trial
  fi
  accel=tcg
  if [ -n "$trial" ] && boot_vm "$trial" "$log" "$@"; then
    accel=kvm
  else
    if [ -n "$trial" ]; then
      qemu_said=$(grep -m 1 '^no report' "$log" || grep -m 1 "$qemu:" "$log" ||
        echo "the guest's init never finished")
      echo "[$name, kvm] failed after $(( $(date +%s) - vm_started )) s ($qemu_said):" \
        "plain emulation from here on"
      kvm_failed=yes
    fi
    boot_vm tcg "$log" "$@" || true
  fi
  # A guest kernel that dies before the init runs ran none of the cases: one boot more. Seen once
  # here under plain emulation, with trixie's kernel (an int3 Oops in sched_clock_cpu as the
  # kernel patches its own code).
  if ! grep -q '^vm: ' "$log" && ! grep -q "$qemu:" "$log" && grep -q 'Kernel panic' "$log"; then
    echo "[$name, $accel] the guest's kernel died before its init ($(grep -m 1 'Oops' "$log" ||
      echo 'a panic')): booted once more"
    boot_vm tcg "$log" "$@" || true
  fi
  if ! grep -q '^vm: ' "$log"; then
    if grep -q "$qemu:" "$log"; then
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
if [ "$arch" = aarch64 ]; then
  # Page-touching is slow here: small probes, and nodes small enough to spill over.
  small="VM_PROBE_MIB=32 VM_SPILL_MIB=450"
  # Two CPUs a node, so that where the child starts shows (see guest_init.sh).
  run_vm "arm64, 2 nodes" "VM_MISSING_NODES=2,7 VM_DEVICES=1 $small" 384:0-1 384:2-3 || result=1
  # Firmware may number nodes sparsely: nodes 1 to 7 declared empty leave nodes 0 and 8.
  # shellcheck disable=SC2046 # one word a node
  run_vm "arm64, nodes 0 and 8" "VM_MISSING_NODES=1,7,9 VM_DEVICES=8 $small" \
    384:0-1 $(uniform 7 0 0) 384:2-3 || result=1
else
  # Two CPUs a node, so that where the child runs shows; and the same under a kernel of 6.10 or
  # later, which takes NUMA balancing with a preferred policy.
  run_vm "2 nodes" "VM_MISSING_NODES=2,7 VM_START_CASES=1 VM_DEVICES=1" 1024:0-1 1024:2-3 ||
    result=1
  vm_kernel=$(suite_kernel trixie) || result=1
  [ -z "$vm_kernel" ] ||
    run_vm "2 nodes, trixie's kernel" "VM_START_CASES=only" 1024:0-1 1024:2-3 || result=1
  vm_kernel=""
  # shellcheck disable=SC2046
  run_vm "4 nodes" "VM_MISSING_NODES=4 VM_DEVICES=1" $(uniform 4 1024 4) || result=1
  # shellcheck disable=SC2046
  run_vm "65 nodes" "VM_WIDE=1 VM_DEVICES=64" $(uniform 65 128 2) || result=1
  # Node 1 has CPUs and no memory (as on some AMD and POWER machines), node 2 memory and no CPUs
  # (as HBM, CXL memory or a GPU's memory shows).
  run_vm "mixed nodes" VM_MIXED=1 1024:0 0:1 1024:- || result=1
fi
echo "VM stage: $(( $(date +%s) - started )) s"
exit "$result"
