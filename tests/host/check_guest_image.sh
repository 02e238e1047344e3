#!/bin/sh
# scripts/guest-image prints the guest's folder on standard output and nothing else, whether it
# makes the guest or finds it cached: its callers take that output for the folder. The heavy
# steps are stand-ins here (package tools, debootstrap, mounts, mkfs and qemu, whose "guest"
# runs no job but writes its output and status), and every one of them is noisy on standard
# output, as the real ones can be.   check_guest_image.sh SOURCE_DIR WORK_DIR
set -eu
source_dir=$1 work=$2
rm -rf "$work"
mkdir -p "$work/bin" "$work/cache"
# The stand-in guest holds a 6 GiB sparse image: nothing of it may stay in the build tree,
# which is copied into the real guest.
trap 'rm -rf "$work"' EXIT
bin=$work/bin

stub() {   # name, then the body of its script
    name=$1; shift
    printf '#!/bin/sh\necho "noise from %s on standard output"\n%s\n' "$name" "$*" >"$bin/$name"
    chmod +x "$bin/$name"
}
stub dpkg-query 'echo "install ok installed"'
stub apt-get '[ "$1" = download ] && touch "${2}_1.0_amd64.deb"; exit 0'
stub apt-cache 'echo "  Depends: linux-image-6.1.0-99-amd64"'
stub dpkg-deb 'mkdir -p "$3/boot" && touch "$3/boot/vmlinuz-6.1.0-99-amd64"'
stub depmod ''
stub modprobe 'for last; do :; done; mkdir -p "$2/m"; touch "$2/m/$last.ko"; echo "insmod $2/m/$last.ko"'
stub busybox ''
stub debootstrap 'mkdir -p "$3/etc"'
stub mount ''
stub umount ''
stub chroot ''
stub mkfs.ext4 'for last; do :; done; touch "$last"'
# The guest writes the job's output, as Wine's first start does, and the job's status.
stub qemu-system-x86_64 'for a; do case $a in local,path=*) job=${a#local,path=}; job=${job%%,*} ;; esac; done
printf "wine: created the configuration directory\nprefix ready\n" >"$job/output"
echo 0 >"$job/status"'
# Running as root is the real script's own check, kept out of the way here.
printf '#!/bin/sh\necho 0\n' >"$bin/id"
chmod +x "$bin/id"

status=0
check() {   # what
    out=$(PATH="$bin:$PATH" GUEST_CACHE="$work/cache" sh "$source_dir/scripts/guest-image" 2>"$work/stderr") || {
        echo "$1: guest-image failed:"; cat "$work/stderr"; status=1; return; }
    lines=$(printf '%s\n' "$out" | wc -l)
    if [ "$lines" != 1 ] || [ ! -f "$out/root.img" ] || [ ! -f "$out/ready" ]; then
        echo "$1: standard output is not the guest's folder alone, but:"
        printf '%s\n' "$out" | sed 's/^/  | /'
        status=1
    else
        echo "$1: printed only $out"
    fi
}
check "no guest yet (made)"
check "guest cached"
exit $status
