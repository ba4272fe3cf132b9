# Link seconds per operation and mode on the dsPIC33FJ256GP710 (bench/run).
set terminal pngcairo size 1100,560 font ",10"
set output out
set title "dsPIC33FJ256GP710 on the simulated board: link seconds at 230400 baud"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set yrange [0.1:*]
set ylabel "link seconds (log scale)"
set grid ytics
set xtics rotate by -25 nomirror
set key top right
plot data using 2:xtic(1) title columnheader(2), \
     '' using 3 title columnheader(3), \
     '' using 4 title columnheader(4)
