# Sourced by bench/run.sh for --fs: makes a fresh file system to run the
# benchmark on, syncs it the way each kind needs, and takes it away again.
#
#   fs_packages TYPE        the Debian packages TYPE needs, on stdout
#   fs_prepare TYPE BYTES   makes TYPE with room for BYTES and sets fs_dir
#                           (where the library goes), fs_state (the state
#                           folder) and fs_label (what the report calls it)
#   fs_sync DIR             writes back what is dirty on the file system of
#                           DIR, down to the disk under the loop image
#   fs_teardown             unmounts and detaches whatever fs_prepare made;
#                           safe to call more than once and after a failure
#
# ext4, xfs and btrfs are loop images under /var/tmp (a real disk) mounted
# by the kernel; exfat is a loop image mounted through FUSE (mount.exfat-fuse);
# tmpfs is /dev/shm, with the state folder on the real disk.

fs_types="ext4 xfs btrfs exfat tmpfs"
fs_dir=""
fs_state=""
fs_label=""
fs_image=""
fs_device=""
fs_mount=""
fs_kind=""

fs_packages() {
  case $1 in
    ext4) command -v mkfs.ext4 >/dev/null || echo e2fsprogs ;;
    xfs) command -v mkfs.xfs >/dev/null || echo xfsprogs ;;
    btrfs) command -v mkfs.btrfs >/dev/null || echo btrfs-progs ;;
    exfat)
      command -v mkfs.exfat >/dev/null || echo exfatprogs
      command -v mount.exfat-fuse >/dev/null || echo exfat-fuse
      ;;
  esac
  case $1 in
    ext4 | xfs | btrfs | exfat) command -v losetup >/dev/null || echo mount ;;
  esac
}

fs_prepare() {
  local type=$1 bytes=$2
  fs_kind=$type
  if [ "$type" = tmpfs ]; then
    fs_dir=/dev/shm/songwright-bench-fs
    fs_state=/var/tmp/songwright-bench-state
    rm -rf "$fs_dir"
    mkdir -p "$fs_dir"
    fs_label="tmpfs (/dev/shm), state on $(stat -f -c %T /var/tmp) /var/tmp"
    return
  fi
  [ "$(id -u)" = 0 ] || fail "--fs $type makes and mounts a loop image: run it as root"
  # Room for the library and a copy, plus what the file system keeps for
  # itself (the btrfs metadata profile, the xfs log, the exFAT tables).
  local size=$(((bytes * 13 / 10 + 768 * 1024 * 1024) / 1048576))
  fs_image=$(mktemp /var/tmp/songwright-bench-$type.XXXXXX.img)
  fs_mount=${fs_image%.img}.mnt
  truncate -s "${size}M" "$fs_image"
  # O_DIRECT on the image keeps its pages out of the host's page cache, so
  # a flush of the file system is a write to the disk, as on a real device.
  fs_device=$(losetup -f --show --direct-io=on "$fs_image" 2>/dev/null ||
    losetup -f --show "$fs_image")
  case $type in
    ext4) mkfs.ext4 -q -F "$fs_device" ;;
    xfs) mkfs.xfs -q -f -m reflink=1 "$fs_device" ;;
    btrfs) mkfs.btrfs -q -f "$fs_device" >/dev/null ;;
    exfat) mkfs.exfat "$fs_device" >/dev/null ;;
    *) fail "unknown file system $type" ;;
  esac
  mkdir -p "$fs_mount"
  if [ "$type" = exfat ]; then
    mount.exfat-fuse -o noatime "$fs_device" "$fs_mount" 2>/dev/null ||
      fail "mount.exfat-fuse $fs_device $fs_mount failed"
  else
    mount -o noatime "$fs_device" "$fs_mount"
  fi
  fs_dir=$fs_mount/bench
  fs_state=$fs_mount/state
  mkdir -p "$fs_dir" "$fs_state"
  fs_label="$type on a $size MB loop image in /var/tmp ($fs_device$(
    [ "$(cat "/sys/block/${fs_device#/dev/}/loop/dio" 2>/dev/null)" = 1 ] && echo ", direct I/O"))"
}

# A syncfs reaches the disk for the kernel's file systems: their flush goes
# through the loop device to the image. A FUSE mount does not pass syncfs on
# to exfat-fuse, which writes to the loop device as a block device: flushing
# the device writes those blocks back and then flushes the image.
fs_sync() {
  sync -f "$1" 2>/dev/null || sync
  if [ "$fs_kind" = exfat ] && [ -n "$fs_device" ]; then sync "$fs_device"; fi
}

fs_teardown() {
  local tries
  if [ -n "$fs_mount" ] && mountpoint -q "$fs_mount"; then
    # A run stopped by Ctrl-C may still hold files open for a moment.
    for tries in 1 2 3 4 5 6 7 8 9 10; do
      umount "$fs_mount" 2>/dev/null && break
      sleep 0.5
    done
    mountpoint -q "$fs_mount" && umount -l "$fs_mount"
  fi
  if [ -n "$fs_device" ]; then
    # The FUSE daemon lets go of the device shortly after the unmount.
    for tries in 1 2 3 4 5 6 7 8 9 10; do
      losetup -d "$fs_device" 2>/dev/null && break
      sleep 0.5
    done
    fs_device=""
  fi
  [ -n "$fs_mount" ] && rmdir "$fs_mount" 2>/dev/null
  [ -n "$fs_image" ] && rm -f "$fs_image"
  fs_mount=""
  fs_image=""
  if [ "$fs_kind" = tmpfs ] && [ -n "$fs_dir" ]; then rm -rf "$fs_dir"; fi
  return 0
}
