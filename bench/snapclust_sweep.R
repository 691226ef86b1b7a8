# The R peer's sweep for the study command's benchmark: adegenet's snapclust.choose.k over
# K = 1..max with its default start (Ward on the principal components, one start per K).
#   Rscript snapclust_sweep.R FILE PLOIDY MAXK
# FILE holds one row of allele values per copy (the simulator's plain layout). Prints, per K,
# snapclust's own log-likelihood (of its hard assignment), the mixture log-likelihood of its
# partition under the study command's model (frequencies and weights of its groups), and the
# seconds of the whole call.
suppressPackageStartupMessages(library(adegenet))
args <- commandArgs(trailingOnly = TRUE)
file <- args[1]
A <- as.integer(args[2])
maxK <- as.integer(args[3])

values <- as.matrix(read.table(file, colClasses = "integer"))
values <- values[, colSums(!is.na(values)) > 0, drop = FALSE]
N <- nrow(values) / A
L <- ncol(values)
genotypes <- matrix("", N, L)
for (n in seq_len(N)) {
  rows <- values[((n - 1) * A + 1):(n * A), , drop = FALSE]
  genotypes[n, ] <- apply(rows, 2, paste, collapse = "/")
}
colnames(genotypes) <- paste0("locus", seq_len(L))
x <- df2genind(as.data.frame(genotypes), sep = "/", ploidy = A)

seconds <- system.time(
  result <- snapclust.choose.k(maxK, x, IC.only = FALSE)
)[["elapsed"]]

# The mixture log-likelihood of a partition: sum over individuals of
# log sum_k w_k prod over copies of p_k(allele), w and p from the groups' counts.
counts <- tab(x)  # N x alleles, copies of every allele
locus <- locFac(x)
MixtureLoglik <- function(group) {
  K <- max(group)
  logf <- matrix(0, N, K)
  for (k in seq_len(K)) {
    members <- group == k
    totals <- colSums(counts[members, , drop = FALSE], na.rm = TRUE)
    perLocus <- tapply(totals, locus, sum)
    p <- totals / perLocus[as.integer(locus)]
    logp <- ifelse(p > 0, log(p), -Inf)
    term <- counts * matrix(logp, N, length(logp), byrow = TRUE)
    term[counts == 0 | is.na(counts)] <- 0
    logf[, k] <- rowSums(term) + log(mean(members))
  }
  top <- apply(logf, 1, max)
  sum(top + log(rowSums(exp(logf - top))))
}

cat("K\tsnapclust_ll\tmixture_ll\n")
cat(1, "\t", NA, "\t", sprintf("%.3f", MixtureLoglik(rep(1L, N))), "\n", sep = "")
for (K in 2:maxK) {
  fit <- result$objects[[as.character(K)]]
  cat(K, "\t", sprintf("%.3f", fit$ll), "\t", sprintf("%.3f", MixtureLoglik(as.integer(fit$group))),
      "\n", sep = "")
}
cat("seconds\t", sprintf("%.2f", seconds), "\n", sep = "")
