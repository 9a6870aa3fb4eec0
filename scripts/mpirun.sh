#!/usr/bin/env bash
# Starts an MPI run the way the tests, the benchmarks and the README do, so
# that every caller gets the same quick, quiet start on one machine:
#
#   scripts/mpirun.sh -np 3 build/bin/vxneural_mpi_tests
#   scripts/mpirun.sh --hostfile hosts -np 32 build/bin/vxnn train ...
#
# Any mpirun option passes through. On one machine the processes talk
# through shared memory only: the network transports are not even probed
# (probing them costs a third of a second per start and, in a container,
# prints warnings). Shared memory copies through a buffer, not straight
# from another process's memory, since containers often forbid that and a
# large exchange would then fail. The processes are not pinned to cores:
# the tests run beside other work, and more processes than cores is
# allowed. With a host file or host list, the TCP transport is added so
# that machines can reach each other. A variable already set in the
# environment wins over these.
set -euo pipefail

several_hosts=0
for a in "$@"; do
  case "$a" in
    --hostfile | -hostfile | --machinefile | -machinefile | --host | -host | -H | --default-hostfile)
      several_hosts=1
      ;;
  esac
done

if [ "$several_hosts" -eq 1 ]; then
  export OMPI_MCA_btl=${OMPI_MCA_btl:-self,vader,tcp}
else
  export OMPI_MCA_btl=${OMPI_MCA_btl:-self,vader}
  export OMPI_MCA_mtl=${OMPI_MCA_mtl:-^ofi,psm,psm2}
  export OMPI_MCA_osc=${OMPI_MCA_osc:-^ucx}
  export OMPI_MCA_pml=${OMPI_MCA_pml:-ob1}
fi
export OMPI_MCA_btl_vader_single_copy_mechanism=${OMPI_MCA_btl_vader_single_copy_mechanism:-none}
export OMPI_MCA_hwloc_base_binding_policy=${OMPI_MCA_hwloc_base_binding_policy:-none}
# A process that dies or fails must end the whole run: its peers would
# otherwise wait for it for ever inside an exchange, since shared memory
# gives them no word of its death. This is mpirun's default; it is set
# here so that no environment can turn it off.
export OMPI_MCA_orte_abort_on_non_zero_status=1

extra=(--oversubscribe)
# mpirun refuses to start as root unless told that is meant (containers
# and CI run as root).
if [ "$(id -u)" -eq 0 ]; then
  extra+=(--allow-run-as-root)
fi

exec mpirun "${extra[@]}" "$@"
